#include "settings/Setting_checkbox.h"

#include "modbus/Registerdatastore.h"
#include "model/Group.h"
#include "model/Xmlutil.h"
#include "settings/Storeaccess.h"

#include <QCheckBox>

TSettingCheckBox::TSettingCheckBox(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingCheckBox::~TSettingCheckBox() {
    DestroyControls();
}

void TSettingCheckBox::LoadFromXml(const pugi::xml_node& element) {
    DefaultValue = XmlGetAttribute(element, "default") == "checked" ? 1 : 0;
    if (ReadOptionalInt(element, "unchecked_value", UncheckedValue)) {
        if (ReadOptionalInt(element, "checked_value", CheckedValue))
            HasCustomValues = true;
    }
    TSetting::LoadFromXml(element);
}

void TSettingCheckBox::CreateControls(QWidget* parent, int32_t index, int32_t top) {
    TSetting::CreateControls(parent, index, top);
    auto* box = new QCheckBox(parent);
    box->hide();
    box->setProperty("tag", index);
    box->setGeometry(200, top, 18, box->sizeHint().height());
    box->show();
    QObject::connect(box, &QCheckBox::clicked, box, [this] { RunHandler([this] { CheckBoxClick(); }); });
    box->setEnabled(Enabled);
    CheckBox = box;
    CreateCopyButtons(parent, index, top, 350);
    UpdateDisplay(true);
}

void TSettingCheckBox::DestroyControls() {
    TSetting::DestroyControls();
    FreeControl(CheckBox);
}

void TSettingCheckBox::SetEnabled(bool enabled) {
    Enabled = enabled;
    if (CheckBox)
        CheckBox->setEnabled(enabled);
}

void TSettingCheckBox::UpdateDisplay(bool withUnits) {
    (void)withUnits;
    if (CheckBox)
        CheckBox->setChecked(Value != 0);
}

void TSettingCheckBox::CheckBoxClick() {
    const int32_t checked = CheckBox && CheckBox->isChecked() ? 1 : 0;
    if (checked == Value)
        return;
    Value = checked;
    WriteToStore();
    if (HasCustomValues)
        Group->RefreshFromStore();
}

void TSettingCheckBox::AddCsvLine(std::vector<std::string>& list) {
    list.push_back(Name + "," + (Value != 0 ? "Enabled" : "Disabled"));
}

void TSettingCheckBox::RegisterWithStore() {
    // With custom values the register belongs to another setting, which announces it.
    if (HasCustomValues)
        return;
    TSetting::RegisterWithStore();
}

void TSettingCheckBox::ReadFromStore() {
    if (!HasCustomValues) {
        TSetting::ReadFromStore();
        return;
    }
    if (!ReadPending)
        return;
    uint16_t raw = 0;
    if (RegisterType == rtHoldingRegister) {
        int16_t word = 0;
        RequireRegisterDataStore().GetHoldingRegisters(Register, &word, 1);
        raw = static_cast<uint16_t>(static_cast<uint16_t>(word) - static_cast<uint16_t>(ValueOffset));
    }
    MarkRead();
    Value = static_cast<int16_t>(raw) == CheckedValue ? 1 : 0;
}

void TSettingCheckBox::PutToStore() {
    if (RegisterType == rtCoil) {
        RequireRegisterDataStore().SetCoil(Register, Value != 0);
    } else if (RegisterType == rtHoldingRegister) {
        const int16_t word =
            static_cast<int16_t>(static_cast<uint16_t>(Value != 0 ? CheckedValue : UncheckedValue));
        // Without custom values a masked register is written through its mask, so the check box
        // never clobbers the bits that other settings hold there.
        if (!HasCustomValues && BitMask != 0)
            RequireRegisterDataStore().SetHoldingRegisterBits(Register, word, BitMask);
        else
            RequireRegisterDataStore().SetHoldingRegister(Register, word);
    }
}

void TSettingCheckBox::WriteToStore() {
    if (IsUnitsSelector || InTemplate)
        return;
    PutToStore();
}

bool TSettingCheckBox::FieldHolds(const TLoadedValue& loaded) const {
    // Only the checked and unchecked values reach the register.
    (void)loaded;
    return true;
}

std::string TSettingCheckBox::LimitProblem(const TLoadedValue& loaded, const std::string& units) const {
    (void)units;
    if (loaded.Value == 0 || loaded.Value == 1)
        return {};
    return std::to_string(loaded.Value) + " (a check box holds 0 or 1)";
}
