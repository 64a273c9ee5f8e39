#include "app/Settingeditors.h"

#include "app/Editevents.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_label.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TSettingEditor::TSettingEditor(TSetting& setting) : FSetting(setting) {
    FSetting.View = this;
}

TSettingEditor::~TSettingEditor() {
    FreeRow();
}

void TSettingEditor::FreeRow() {
    if (FSetting.View == this)
        FSetting.View = nullptr;
    FreeControl(CaptionLabel);
    FreeControl(CopyToAllGroupsButton);
    FreeControl(CopyToAllControllersButton);
}

void TSettingEditor::Create(QWidget* parent, int32_t index, int32_t top) {
    CreateCaption(parent, index, top);
}

void TSettingEditor::CreateCaption(QWidget* parent, int32_t index, int32_t top) {
    PlaceCaption(parent, index, 40, top, FSetting.Bold);
}

void TSettingEditor::CreateShiftedCaption(QWidget* parent, int32_t index, int32_t top) {
    // A caption placed by its offsets keeps the plain type.
    PlaceCaption(parent, index, 40 + FSetting.XOffset, top + FSetting.YOffset, false);
}

void TSettingEditor::PlaceCaption(QWidget* parent, int32_t index, int32_t left, int32_t top, bool bold) {
    auto* label = new QLabel(parent);
    label->hide();
    label->setProperty("tag", index);
    label->setText(QString::fromStdString(FSetting.Name));
    label->move(left, top);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->adjustSize();
    label->show();
    CaptionLabel = label;
}

void TSettingEditor::CreateCopyButtons(QWidget* parent, int32_t index, int32_t top, int32_t left) {
    if (!FSetting.InTemplate)
        return;
    TSetting& setting = FSetting;
    const auto make = [&](int32_t x, const char* caption, void (TSetting::*click)()) {
        auto* button = new QPushButton(parent);
        button->hide();
        button->setProperty("tag", index);
        button->setText(caption);
        button->setGeometry(x, top, 100, button->sizeHint().height());
        QObject::connect(button, &QPushButton::clicked, button, [&setting, click] { (setting.*click)(); });
        button->show();
        button->setEnabled(setting.Enabled);
        return button;
    };
    CopyToAllGroupsButton = make(left, "Copy to all groups", &TSetting::CopyToAllGroupsClick);
    CopyToAllControllersButton = make(left + 105, "Copy to all ZA9s", &TSetting::CopyToAllControllersClick);
    for (QPushButton* button : {CopyToAllGroupsButton.data(), CopyToAllControllersButton.data()})
        QObject::connect(button, &QPushButton::clicked, button, [&setting] { setting.NotifyEdited(); });
}

void TSettingEditor::ShowValue(bool withUnits) {
    (void)withUnits;
}

void TSettingEditor::ShowEnabled(bool enabled) {
    (void)enabled;
}

void TSettingEditor::ShowMark() {
    if (!CaptionLabel)
        return;
    QLabel* label = CaptionLabel.data();
    // The caption's own look is kept while it is marked, and given back when the mark goes.
    const QVariant plainBold = label->property("plainBold");
    if (FSetting.Marked == plainBold.isValid())
        return;
    QFont font = label->font();
    if (FSetting.Marked) {
        label->setProperty("plainBold", font.bold());
        font.setBold(true);
        label->setText(QString::fromStdString("\u2022 " + FSetting.Name));
    } else {
        font.setBold(plainBold.toBool());
        label->setProperty("plainBold", QVariant());
        label->setText(QString::fromStdString(FSetting.Name));
    }
    label->setFont(font);
    label->adjustSize();
}

TEditBoxEditor::TEditBoxEditor(TSetting& setting, bool& bouncingBack, TShape shape)
    : TSettingEditor(setting), FBouncingBack(bouncingBack), FShape(shape) {}

TEditBoxEditor::~TEditBoxEditor() {
    FreeRow();
    FreeEditBox(Edit, FEvents);
}

void TEditBoxEditor::Create(QWidget* parent, int32_t index, int32_t top) {
    // An integer outside a template group stands where its offsets put it.
    const bool shifted = FShape.Shifted && !FSetting.InTemplate;
    const int32_t x = shifted ? FSetting.XOffset : 0;
    const int32_t y = shifted ? FSetting.YOffset : 0;
    if (shifted)
        CreateShiftedCaption(parent, index, top);
    else
        CreateCaption(parent, index, top);
    QLineEdit* edit = NewEditBox(parent, index, 200 + x, top + y, FShape.Width);
    Edit = edit;
    std::function<void()> enter;
    std::function<void()> enterKey;
    if (FShape.EntryAndEnter) {
        enter = [this] { Enter(); };
        enterKey = [this] { EnterKey(); };
    }
    FEvents = new TEditEvents(
        edit, FBouncingBack, enter,
        [this] {
            const bool valid = Leave();
            FSetting.NotifyEdited();
            return valid;
        },
        enterKey);
    edit->show();
    edit->setEnabled(FSetting.Enabled);
    edit->setReadOnly(!FSetting.Enabled);
    if (FShape.CopyButtons)
        CreateCopyButtons(parent, index, top, 350);
    FSetting.UpdateDisplay(true);
}

void TEditBoxEditor::ShowValue(bool withUnits) {
    if (Edit)
        Edit->setText(QString::fromStdString(FSetting.DisplayText(withUnits)));
}

void TEditBoxEditor::ShowEnabled(bool enabled) {
    if (Edit) {
        Edit->setReadOnly(!enabled);
        Edit->setEnabled(enabled);
    }
}

bool TEditBoxEditor::Typing() const {
    return Edit && Edit->hasFocus();
}

void TEditBoxEditor::Enter() {
    if (!Edit)
        return;
    Edit->setText(QString::fromStdString(FSetting.EntryText()));
    Edit->selectAll();
}

bool TEditBoxEditor::Leave() {
    if (!Edit)
        return true;
    return FSetting.TakeText(Edit->text().toStdString());
}

void TEditBoxEditor::EnterKey() {
    if (Edit)
        FSetting.ValidateText(Edit->text().toStdString());
}

TUnitsEditor::TUnitsEditor(TSetting& setting, bool& bouncingBack)
    : TEditBoxEditor(setting, bouncingBack, {}) {}

void TUnitsEditor::Enter() {
    if (!Edit)
        return;
    FEnterText = FSetting.EntryText();
    Edit->setText(QString::fromStdString(FEnterText));
    Edit->selectAll();
}

bool TUnitsEditor::Leave() {
    if (!Edit)
        return true;
    if (Edit->text().toStdString() == FEnterText) {
        FSetting.UpdateDisplay(true);
        return true;
    }
    return TEditBoxEditor::Leave();
}

TDropDownEditor::~TDropDownEditor() {
    FreeRow();
    FreeControl(ComboBox);
}

void TDropDownEditor::Create(QWidget* parent, int32_t index, int32_t top) {
    auto& dropDown = static_cast<TSettingDropDown&>(FSetting);
    CreateCaption(parent, index, top);
    auto* combo = new QComboBox(parent);
    combo->hide();
    combo->setProperty("tag", index);
    combo->setEditable(false);
    combo->clear();
    combo->setGeometry(200, top, 140, combo->sizeHint().height());
    // Only a choice the user makes is a change; showing a value is not.
    QObject::connect(combo, &QComboBox::activated, combo, [this, &dropDown] {
        RunHandler([this, &dropDown] {
            if (ComboBox)
                dropDown.ChooseAt(ComboBox->currentIndex());
            dropDown.NotifyEdited();
        });
    });
    combo->setEnabled(FSetting.Enabled);
    ComboBox = combo;
    CreateCopyButtons(parent, index, top, 350);
    for (const auto& choice : dropDown.Choices)
        combo->addItem(QString::fromStdString(choice.Name));
    FSetting.UpdateDisplay(true);
    combo->show();
}

void TDropDownEditor::ShowValue(bool withUnits) {
    (void)withUnits;
    // A value that no choice holds shows no choice rather than claiming the first one.
    if (ComboBox)
        ComboBox->setCurrentIndex(static_cast<TSettingDropDown&>(FSetting).IndexOfValue(FSetting.Value));
}

void TDropDownEditor::ShowEnabled(bool enabled) {
    if (ComboBox)
        ComboBox->setEnabled(enabled);
}

TCheckBoxEditor::~TCheckBoxEditor() {
    FreeRow();
    FreeControl(CheckBox);
}

void TCheckBoxEditor::Create(QWidget* parent, int32_t index, int32_t top) {
    auto& setting = static_cast<TSettingCheckBox&>(FSetting);
    CreateCaption(parent, index, top);
    auto* box = new QCheckBox(parent);
    box->hide();
    box->setProperty("tag", index);
    box->setGeometry(200, top, 18, box->sizeHint().height());
    box->show();
    QObject::connect(box, &QCheckBox::clicked, box, [this, &setting] {
        RunHandler([this, &setting] {
            setting.TakeChecked(CheckBox && CheckBox->isChecked());
            setting.NotifyEdited();
        });
    });
    box->setEnabled(FSetting.Enabled);
    CheckBox = box;
    CreateCopyButtons(parent, index, top, 350);
    FSetting.UpdateDisplay(true);
}

void TCheckBoxEditor::ShowValue(bool withUnits) {
    (void)withUnits;
    if (CheckBox)
        CheckBox->setChecked(FSetting.Value != 0);
}

void TCheckBoxEditor::ShowEnabled(bool enabled) {
    if (CheckBox)
        CheckBox->setEnabled(enabled);
}

TLabelEditor::~TLabelEditor() {
    FreeRow();
    FreeControl(ValueLabel);
}

void TLabelEditor::Create(QWidget* parent, int32_t index, int32_t top) {
    CreateCaption(parent, index, top);
    auto* label = new QLabel(parent);
    label->hide();
    label->setProperty("tag", index);
    label->setGeometry(200, top, 140, label->sizeHint().height());
    label->setVisible(!static_cast<TSettingLabel&>(FSetting).LabelOnly);
    label->setEnabled(FSetting.Enabled);
    ValueLabel = label;
    FSetting.UpdateDisplay(true);
}

void TLabelEditor::ShowValue(bool withUnits) {
    if (ValueLabel)
        ValueLabel->setText(QString::fromStdString(FSetting.DisplayText(withUnits)));
}

void TLabelEditor::ShowEnabled(bool enabled) {
    if (ValueLabel)
        ValueLabel->setEnabled(enabled);
}

TSectionLabelEditor::~TSectionLabelEditor() {
    FreeRow();
    FreeControl(HeadingLabel);
}

void TSectionLabelEditor::Create(QWidget* parent, int32_t index, int32_t top) {
    auto* label = new QLabel(parent);
    label->hide();
    label->setProperty("tag", index);
    label->move(200, top);
    label->show();
    label->setEnabled(FSetting.Enabled);
    HeadingLabel = label;
    FSetting.UpdateDisplay(true);
    QFont font("Arial", 15);
    font.setBold(true);
    label->setFont(font);
    label->adjustSize();
    if (label->width() < 140)
        label->resize(140, label->height());
}

void TSectionLabelEditor::ShowValue(bool withUnits) {
    (void)withUnits;
    if (HeadingLabel)
        HeadingLabel->setText(QString::fromStdString(FSetting.Name));
}

void TSectionLabelEditor::ShowEnabled(bool enabled) {
    if (HeadingLabel)
        HeadingLabel->setEnabled(enabled);
}

std::unique_ptr<TSettingEditor> NewSettingEditor(TSetting& setting, bool& bouncingBack) {
    using TShape = TEditBoxEditor::TShape;
    if (dynamic_cast<TSettingInt*>(&setting) != nullptr)
        return std::make_unique<TEditBoxEditor>(setting, bouncingBack, TShape{true, 140, true, true});
    if (dynamic_cast<TSettingUint32*>(&setting) != nullptr)
        return std::make_unique<TEditBoxEditor>(setting, bouncingBack, TShape{false, 200, false, true});
    if (dynamic_cast<TSettingName*>(&setting) != nullptr)
        return std::make_unique<TEditBoxEditor>(setting, bouncingBack, TShape{false, 140, true, false});
    if (dynamic_cast<TSettingUnits*>(&setting) != nullptr)
        return std::make_unique<TUnitsEditor>(setting, bouncingBack);
    if (dynamic_cast<TSettingDropDown*>(&setting) != nullptr)
        return std::make_unique<TDropDownEditor>(setting);
    if (dynamic_cast<TSettingCheckBox*>(&setting) != nullptr)
        return std::make_unique<TCheckBoxEditor>(setting);
    if (dynamic_cast<TSettingLabel*>(&setting) != nullptr)
        return std::make_unique<TLabelEditor>(setting);
    if (dynamic_cast<TSettingSectionLabel*>(&setting) != nullptr)
        return std::make_unique<TSectionLabelEditor>(setting);
    return std::make_unique<TSettingEditor>(setting);
}

TSettingEditor* EditorOf(const TSetting& setting) {
    return dynamic_cast<TSettingEditor*>(setting.View);
}

QLineEdit* EditBoxOf(const TSetting& setting) {
    auto* editor = dynamic_cast<TEditBoxEditor*>(setting.View);
    return editor != nullptr ? editor->Edit.data() : nullptr;
}

QComboBox* DropDownOf(const TSetting& setting) {
    auto* editor = dynamic_cast<TDropDownEditor*>(setting.View);
    return editor != nullptr ? editor->ComboBox.data() : nullptr;
}

QCheckBox* CheckBoxOf(const TSetting& setting) {
    auto* editor = dynamic_cast<TCheckBoxEditor*>(setting.View);
    return editor != nullptr ? editor->CheckBox.data() : nullptr;
}
