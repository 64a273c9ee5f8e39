#include "settings/Group.h"

#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_label.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "settings/Settings.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <cstring>
#include <stdexcept>

namespace {
// PaddedCaption pads to this width in pixels, and never adds more than this many spaces, so a
// font that measures a space as nothing cannot stall it.
constexpr int PaddedWidth = 140;
constexpr int MaxPadding = 200;
} // namespace

TGroup::TGroup(TSettings* owner) : Owner(owner) {}

TGroup::~TGroup() {
    if (ShownGroup == this)
        ShownGroup = nullptr;
    FreeControl(TitleLabel);
    FreeControl(DescriptionLabel);
    FreeControl(TrailerLabel);
    FreeControl(Button);
}

bool TGroup::IsTemplateNode(const pugi::xml_node& element) {
    Name = XmlGetAttribute(element, "name");
    return Name == "Group";
}

void TGroup::LoadFromXml(const pugi::xml_node& element) {
    Name = XmlGetAttribute(element, "name");
    Description = XmlGetAttribute(element, "description");
    Id = Owner->NextGroupId++;
    if (Name == "Group") {
        const int copies = TenGroups ? 10 : 1;
        for (int i = 0; i < copies; ++i) {
            const std::string heading =
                IsTemplate ? std::string("Template Group") : "Group " + std::to_string(FirstGroupNumber + i);
            AddSetting(std::make_unique<TSettingSectionLabel>(this, heading));
            for (pugi::xml_node child : element.children()) {
                if (std::strcmp(child.name(), "setting") == 0)
                    AddSettingFromXml(child, FirstGroupNumber + i + 50 * Controller - 51);
            }
        }
    } else {
        for (pugi::xml_node child : element.children()) {
            if (std::strcmp(child.name(), "setting") == 0)
                AddSettingFromXml(child, 0);
        }
    }
}

void TGroup::AddSettingFromXml(const pugi::xml_node& element, int32_t copyIndex) {
    const std::string type = XmlGetAttribute(element, "value_type");
    std::unique_ptr<TSetting> setting;
    if (type == "units")
        setting = std::make_unique<TSettingUnits>(this, copyIndex);
    else if (type == "checkbox")
        setting = std::make_unique<TSettingCheckBox>(this, copyIndex);
    else if (type == "int")
        setting = std::make_unique<TSettingInt>(this, copyIndex);
    else if (type == "drop_down")
        setting = std::make_unique<TSettingDropDown>(this, copyIndex);
    else if (type == "name")
        setting = std::make_unique<TSettingName>(this, copyIndex);
    else if (type == "label")
        setting = std::make_unique<TSettingLabel>(this, copyIndex);
    else if (type == "uint32")
        setting = std::make_unique<TSettingUint32>(this, copyIndex);
    else {
        TModelError error("Unknown setting type " + type);
        XmlPlaceError(error, element);
        throw error;
    }
    if (IsTemplate)
        setting->InTemplate = true;
    try {
        setting->LoadFromXml(element);
    } catch (TModelError& error) {
        XmlPlaceError(error, element);
        throw;
    }
    AddSetting(std::move(setting));
}

void TGroup::AddSetting(std::unique_ptr<TSetting> entry) {
    entry->IndexInGroup = SettingCount;
    Settings.push_back(std::move(entry));
    ++SettingCount;
}

QWidget* TGroup::Content(QScrollArea* area) {
    QWidget* content = area->widget();
    if (content == nullptr) {
        area->setWidget(new QWidget);
        content = area->widget();
    }
    return content;
}

void FitContent(QScrollArea* area) {
    QWidget* content = area->widget();
    if (content == nullptr)
        return;
    const QRect used = content->childrenRect();
    const QSize viewport = area->viewport()->size();
    content->resize(std::max(used.right() + 1, viewport.width()), std::max(used.bottom() + 1, 0));
}

void TGroup::CreateButton(QScrollArea* parent, int32_t position) {
    auto* button = new QPushButton(Content(parent));
    button->hide();
    button->setGeometry(13, 16 + 40 * position, 200, 32);
    button->setText(QString::fromStdString(PaddedCaption()));
    button->setProperty("tag", position);
    QObject::connect(button, &QPushButton::clicked, button, [this] { RunHandler([this] { Select(); }); });
    button->show();
    Button = button;
    ShowMark();
    FitContent(parent);
}

std::string TGroup::PaddedCaption() const {
    const QFontMetrics metrics(QFont("MS Sans Serif", 8));
    QString caption = QString::fromStdString(Name);
    for (int added = 0; added < MaxPadding && metrics.horizontalAdvance(caption) < PaddedWidth; ++added)
        caption += ' ';
    return caption.toStdString();
}

void TGroup::Select() {
    if (ShownGroup != nullptr)
        ShownGroup->Hide();
    TRegisterDataStore& store = Owner->Store();
    if (store.IsComplete()) {
        TStoreLock lock(store.Lock()); // a polling worker services these settings too
        for (auto& entry : Settings) {
            entry->MarkForRead();
            entry->ReadFromStore();
        }
    }
    // The tree's editing state, so a group opened during a run or while disconnected stays
    // read-only.
    for (auto& entry : Settings)
        entry->SetEnabled(Owner->Enabled);
    ShownGroup = this;
    if (Owner->MainArea != nullptr)
        Show(Owner->MainArea);
}

void TGroup::Show(QScrollArea* area) {
    QWidget* content = Content(area);
    content->hide();
    content->setUpdatesEnabled(false);

    auto makeLabel = [&](int left, int top, const std::string& text) {
        auto* label = new QLabel(content);
        label->hide();
        label->move(left, top);
        label->setText(QString::fromStdString(text));
        return label;
    };
    QLabel* title = makeLabel(27, 28, Name);
    QFont titleFont("Arial", 15);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->adjustSize();
    TitleLabel = title;
    QLabel* description = makeLabel(50, 70, Description);
    description->adjustSize();
    DescriptionLabel = description;
    QLabel* trailer = makeLabel(50, 70, std::string());
    TrailerLabel = trailer;

    int32_t y = 120;
    int32_t position = 0;
    for (auto& entry : Settings) {
        entry->CreateControls(content, position++, y);
        entry->ShowMark();
        y += 32;
        if (!IsTemplate)
            y += entry->YOffset;
    }

    trailer->move(trailer->x(), y);
    trailer->show();
    description->show();
    title->show();
    content->setUpdatesEnabled(true);
    content->show();
    // The scrollable height reaches the trailer label.
    FitContent(area);
}

void TGroup::ShowMark() {
    if (!Button)
        return;
    QPushButton* button = Button.data();
    QFont font = button->font();
    if (font.bold() == Marked)
        return;
    font.setBold(Marked);
    button->setFont(font);
    button->setText(QString::fromStdString((Marked ? "\u2022 " : "") + PaddedCaption()));
}

void TGroup::Hide() {
    FreeControl(DescriptionLabel);
    FreeControl(TitleLabel);
    FreeControl(TrailerLabel);
    for (auto& entry : Settings)
        entry->DestroyControls();
}

void TGroup::FocusButton() {
    if (Button)
        Button->setFocus();
}

void TGroup::DestroyButton() {
    FreeControl(Button);
}

void TGroup::SetEnabled(bool enabled) {
    for (auto& entry : Settings)
        entry->SetEnabled(enabled);
}

void TGroup::UpdateDisplay() {
    for (auto& entry : Settings)
        entry->UpdateDisplay(true);
}

void TGroup::ClearPending() {
    for (auto& entry : Settings)
        entry->ClearPending();
}

void TGroup::RegisterWithStore() {
    for (auto& entry : Settings) {
        if (!entry->InTemplate)
            entry->RegisterWithStore();
    }
}

void TGroup::RefreshFromStore() {
    TStoreLock lock(Owner->Store().Lock()); // a polling worker services these settings too
    for (auto& entry : Settings) {
        entry->MarkForRead();
        entry->ReadFromStore();
    }
    // Runs on the user-interface thread, so the new contents are shown at once.
    for (auto& entry : Settings) {
        if (entry->DisplayPending) {
            entry->DisplayPending = false;
            entry->UpdateDisplay(true);
        }
    }
}

TSetting* TGroup::FindSetting(const std::string& name) const {
    for (const auto& entry : Settings) {
        if (entry->Name == name)
            return entry.get();
    }
    return nullptr;
}

bool TGroup::IsValueFree(const TSetting* setting, int32_t value) const {
    for (const auto& entry : Settings) {
        if (entry.get() != setting && entry->ExclusionGroup != -1 &&
            entry->ExclusionGroup == setting->ExclusionGroup && entry->Value == value)
            return false;
    }
    return true;
}

std::string TGroup::ExclusionPeers(const TSetting* setting) const {
    std::string peers;
    for (const auto& entry : Settings) {
        if (entry.get() != setting && entry->ExclusionGroup != -1 &&
            entry->ExclusionGroup == setting->ExclusionGroup)
            peers += " \u2022 " + entry->Name + "\n";
    }
    return peers;
}

TSetting* TGroup::EntryAt(int32_t position) const {
    if (position < 0 || position >= static_cast<int32_t>(Settings.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(position) + ")");
    return Settings[static_cast<size_t>(position)].get();
}

void TGroup::CopyToRange(TSetting* setting) {
    if (IsTemplate)
        return;
    // Each of the ten copies holds SettingCount / 10 entries; the setting's counterparts stand
    // that far apart.
    const int32_t step = SettingCount / 10;
    int32_t i = setting->IndexInGroup;
    do {
        EntryAt(i)->CopyValueFrom(setting);
        // A group of fewer than ten entries has no copies to step through.
        if (step == 0)
            break;
        i += step;
    } while (i < SettingCount);
}
