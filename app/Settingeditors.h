#pragma once
// The editors of a group page: one row of controls for each setting of the group, placed on the
// page's widget, showing the setting and handing what the engineer types, chooses or clicks to
// it. An editor is the setting's view while it exists.
#include "settings/Settingview.h"

#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class TEditEvents;
class TSetting;

// A row with the setting's caption and, for a setting of a template group, its copy buttons.
class TSettingEditor : public TSettingView {
public:
    explicit TSettingEditor(TSetting& setting);
    ~TSettingEditor() override;
    TSettingEditor(const TSettingEditor&) = delete;
    TSettingEditor& operator=(const TSettingEditor&) = delete;

    // Places the row on `parent` at `top`; `index` is the entry's position in its group, which
    // every control of the row carries as its "tag".
    virtual void Create(QWidget* parent, int32_t index, int32_t top);

    void ShowValue(bool withUnits) override;
    void ShowEnabled(bool enabled) override;
    // `Marked` on the caption: a dot before it and bold type.
    void ShowMark() override;
    bool Typing() const override { return false; }

    TSetting& Setting() const { return FSetting; }

    QPointer<QLabel> CaptionLabel;
    QPointer<QPushButton> CopyToAllGroupsButton;
    QPointer<QPushButton> CopyToAllControllersButton;

protected:
    void CreateCaption(QWidget* parent, int32_t index, int32_t top);
    // The caption moved by the setting's offsets.
    void CreateShiftedCaption(QWidget* parent, int32_t index, int32_t top);
    void CreateCopyButtons(QWidget* parent, int32_t index, int32_t top, int32_t left);
    // Frees the caption and copy buttons and stops showing the setting; every kind's destructor
    // calls it before freeing its own controls, in the order the rows were always taken down.
    void FreeRow();

    TSetting& FSetting;

private:
    void PlaceCaption(QWidget* parent, int32_t index, int32_t left, int32_t top, bool bold);
};

// The edit box of the integer, 32-bit, units and text kinds: entering shows the plain value,
// leaving takes the text (the focus stays while it is refused), Enter checks it.
class TEditBoxEditor : public TSettingEditor {
public:
    // The box's place: shifted by the setting's offsets (integers outside a template), its width,
    // and whether a template setting has copy buttons.
    struct TShape {
        bool Shifted = false;
        int32_t Width = 140;
        bool CopyButtons = true;
        // The text kind neither changes the box on entering nor checks on Enter.
        bool EntryAndEnter = true;
    };
    TEditBoxEditor(TSetting& setting, bool& bouncingBack, TShape shape);
    ~TEditBoxEditor() override;

    void Create(QWidget* parent, int32_t index, int32_t top) override;
    void ShowValue(bool withUnits) override;
    void ShowEnabled(bool enabled) override;
    bool Typing() const override;

    QPointer<QLineEdit> Edit;

protected:
    virtual void Enter();
    // False when the text is refused and the focus stays in the box.
    virtual bool Leave();
    void EnterKey();

private:
    bool& FBouncingBack;
    TShape FShape;
    QPointer<TEditEvents> FEvents;
};

// The units kind: leaving the box with the text entering showed changes nothing, as re-encoding
// the converted, rounded number would change the word by merely tabbing through.
class TUnitsEditor : public TEditBoxEditor {
public:
    TUnitsEditor(TSetting& setting, bool& bouncingBack);

protected:
    void Enter() override;
    bool Leave() override;

private:
    std::string FEnterText;
};

class TDropDownEditor : public TSettingEditor {
public:
    using TSettingEditor::TSettingEditor;
    ~TDropDownEditor() override;
    void Create(QWidget* parent, int32_t index, int32_t top) override;
    void ShowValue(bool withUnits) override;
    void ShowEnabled(bool enabled) override;

    QPointer<QComboBox> ComboBox;
};

class TCheckBoxEditor : public TSettingEditor {
public:
    using TSettingEditor::TSettingEditor;
    ~TCheckBoxEditor() override;
    void Create(QWidget* parent, int32_t index, int32_t top) override;
    void ShowValue(bool withUnits) override;
    void ShowEnabled(bool enabled) override;

    QPointer<QCheckBox> CheckBox;
};

// A read-only value beside its caption; a label-only setting shows the caption alone.
class TLabelEditor : public TSettingEditor {
public:
    using TSettingEditor::TSettingEditor;
    ~TLabelEditor() override;
    void Create(QWidget* parent, int32_t index, int32_t top) override;
    void ShowValue(bool withUnits) override;
    void ShowEnabled(bool enabled) override;

    QPointer<QLabel> ValueLabel;
};

// The heading of a group copy, in large bold type, without a caption.
class TSectionLabelEditor : public TSettingEditor {
public:
    using TSettingEditor::TSettingEditor;
    ~TSectionLabelEditor() override;
    void Create(QWidget* parent, int32_t index, int32_t top) override;
    void ShowValue(bool withUnits) override;
    void ShowEnabled(bool enabled) override;

    QPointer<QLabel> HeadingLabel;
};

// The editor of a setting's kind; `bouncingBack` is shared by the edit boxes of one page.
std::unique_ptr<TSettingEditor> NewSettingEditor(TSetting& setting, bool& bouncingBack);

// The shown editor of a setting and its controls; null while its page is not shown.
TSettingEditor* EditorOf(const TSetting& setting);
QLineEdit* EditBoxOf(const TSetting& setting);
QComboBox* DropDownOf(const TSetting& setting);
QCheckBox* CheckBoxOf(const TSetting& setting);

// Frees a control, if it still exists.
template <class T> void FreeControl(QPointer<T>& control) {
    delete control.data();
    control = nullptr;
}
