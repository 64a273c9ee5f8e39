#include "settings/Setting_checkbox.h"

#include "base/Csv.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"

TSettingCheckBox::TSettingCheckBox(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingCheckBox::~TSettingCheckBox() = default;

void TSettingCheckBox::LoadFromXml(const pugi::xml_node& element) {
    DefaultValue = XmlGetAttribute(element, "default") == "checked" ? 1 : 0;
    if (ReadOptionalInt(element, "unchecked_value", UncheckedValue)) {
        if (ReadOptionalInt(element, "checked_value", CheckedValue))
            HasCustomValues = true;
    }
    TSetting::LoadFromXml(element);
}

void TSettingCheckBox::TakeChecked(bool isChecked) {
    const int32_t checked = isChecked ? 1 : 0;
    if (checked == Value)
        return;
    Value = checked;
    WriteToStore();
    if (HasCustomValues)
        Group->RefreshFromStore();
}

std::string TSettingCheckBox::FormatText() const {
    return Value != 0 ? "Enabled" : "Disabled";
}

TParsed TSettingCheckBox::ParseText(const std::string& text) const {
    TParsed parsed;
    if (text == "Enabled" || text == "Disabled")
        parsed.Value = text == "Enabled" ? 1 : 0;
    else
        parsed.Error = "'" + text + "' is neither Enabled nor Disabled";
    return parsed;
}

std::vector<uint16_t> TSettingCheckBox::StoredWords() const {
    if (RegisterType != rtHoldingRegister)
        return TSetting::StoredWords();
    const int32_t state = Value != 0 ? CheckedValue : UncheckedValue;
    // As PutToStore converts: custom values take the offset only.
    const uint32_t wide = HasCustomValues ? static_cast<uint32_t>(state) + static_cast<uint32_t>(ValueOffset)
                                          : static_cast<uint32_t>(state) * static_cast<uint32_t>(Scaling()) +
                                                static_cast<uint32_t>(ValueOffset);
    return {static_cast<uint16_t>(wide)};
}

void TSettingCheckBox::RegisterWithStore() {
    // With custom values the register belongs to another setting, which announces it.
    if (HasCustomValues)
        return;
    TSetting::RegisterWithStore();
}

void TSettingCheckBox::ReadFromStore() {
    if (!HasCustomValues) {
        const bool reading = ReadPending;
        TSetting::ReadFromStore();
        // A lone unchecked value is what the unchecked box writes, so it reads as unchecked.
        if (reading && Value == UncheckedValue)
            Value = 0;
        return;
    }
    if (!ReadPending)
        return;
    const bool checked = RegisterType == rtHoldingRegister && RegisterHoldsChecked();
    MarkRead();
    Value = checked ? 1 : 0;
}

bool TSettingCheckBox::RegisterHoldsChecked() const {
    int16_t word = 0;
    Store().GetHoldingRegisters(Register, &word, 1);
    const auto raw = static_cast<uint16_t>(static_cast<uint16_t>(word) - static_cast<uint16_t>(ValueOffset));
    return static_cast<int16_t>(raw) == CheckedValue;
}

void TSettingCheckBox::PutToStore() {
    TStoreLock lock(Store().Lock());
    if (RegisterType == rtCoil) {
        Store().SetCoil(Register, Value != 0);
        return;
    }
    if (RegisterType != rtHoldingRegister)
        return;
    const int32_t state = Value != 0 ? CheckedValue : UncheckedValue;
    TRegisterDataStore& store = Store();
    if (HasCustomValues) {
        // The register also holds the values of another setting (a drop-down's "Optimised" reads
        // as unchecked here): only a change of the checked state may replace it, so neither the
        // order of the settings nor a copy of an unchanged box overwrites that setting's value.
        if ((Value != 0) == RegisterHoldsChecked())
            return;
        // The offset the read takes off, put on.
        store.SetHoldingRegister(Register,
                                 static_cast<int16_t>(static_cast<uint16_t>(
                                     static_cast<uint32_t>(state) + static_cast<uint32_t>(ValueOffset))));
        return;
    }
    // Through the factor, the offset and the mask of the base conversion, so the box reads back
    // what it wrote and never clobbers the bits other settings hold in a masked register.
    const uint32_t wide =
        static_cast<uint32_t>(state) * static_cast<uint32_t>(Scaling()) + static_cast<uint32_t>(ValueOffset);
    const auto word = static_cast<int16_t>(static_cast<uint16_t>(wide));
    if (BitMask != 0)
        store.SetHoldingRegisterBits(Register, word, BitMask);
    else
        store.SetHoldingRegister(Register, word);
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
