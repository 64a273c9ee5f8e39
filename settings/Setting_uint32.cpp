#include "settings/Setting_uint32.h"

#include "base/Convert.h"
#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"

#include <charconv>

TSettingUint32::TSettingUint32(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingUint32::~TSettingUint32() = default;

void TSettingUint32::LoadFromXml(const pugi::xml_node& element) {
    TSetting::LoadFromXml(element);
    MinValue32 = ReadRequiredInt(element, "min");
    MaxValue32 = ReadRequiredInt(element, "max");
    DefaultValue32 = ReadRequiredInt(element, "default");
    Value = DefaultValue32;
    ValueText = XmlGetAttribute(element, "value_text");
}

std::string TSettingUint32::DisplayText(bool withUnits) const {
    (void)withUnits;
    return std::to_string(Value) + " " + ValueText;
}

TParsed TSettingUint32::ParseText(const std::string& text) const {
    TParsed parsed = ParseIntegerText(text, MinValue32, MaxValue32, ValueText);
    if (parsed.Value)
        return parsed;
    // Text() shows the 32 bits unsigned; such a number names its value even where the editor,
    // which takes signed numbers, refuses it.
    const std::string number = text.substr(0, text.find(' '));
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (!number.empty() && error == std::errc() && end == number.data() + number.size() &&
        (text.size() == number.size() || text.substr(number.size()) == " " + ValueText))
        parsed.Value = static_cast<int32_t>(value);
    return parsed;
}

void TSettingUint32::RestoreDefault() {
    Value = DefaultValue32;
    WriteToStore();
    UpdateDisplay(true);
}

void TSettingUint32::SaveToXml(pugi::xml_node& groupElement) {
    TSetting::SaveToXml(groupElement);
    groupElement.last_child().append_attribute("Address") =
        static_cast<unsigned int>(static_cast<uint32_t>(Value));
}

TLoadedValue TSettingUint32::LoadValue(const pugi::xml_node& settingElement) {
    // The file carries the value unsigned; read it back as the 32 bits that were written.
    const std::string text = settingElement.attribute("Address").value();
    uint32_t unsignedValue = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), unsignedValue);
    TLoadedValue loaded;
    if (!text.empty() && error == std::errc() && end == text.data() + text.size())
        loaded.Value = static_cast<int32_t>(unsignedValue);
    else
        loaded.Value = StrToInt(text);
    return loaded;
}

std::string TSettingUint32::ShownValue() {
    // The export's shape, as the int kind's (the number as stored, signed).
    return std::to_string(Value) + " " + ValueText;
}

std::string TSettingUint32::FormatText() const {
    const std::string number = std::to_string(static_cast<uint32_t>(Value));
    return ValueText.empty() ? number : number + " " + ValueText;
}

std::vector<uint16_t> TSettingUint32::StoredWords() const {
    const auto value = static_cast<uint32_t>(Value);
    return {static_cast<uint16_t>(value >> 16), static_cast<uint16_t>(value)};
}

void TSettingUint32::RegisterWithStore() {
    if (InTemplate)
        return;
    Store().InsertHoldingRegisterIndex(Register);
    Store().InsertHoldingRegisterIndex(Register + 1);
}

void TSettingUint32::ReadFromStore() {
    if (!ReadPending)
        return;
    int16_t words[2] = {0, 0};
    Store().GetHoldingRegisters(Register, words, 2);
    // The halves are unsigned: 0x0001, 0x86A0 is 100000.
    const uint32_t value = (static_cast<uint32_t>(static_cast<uint16_t>(words[0])) << 16) |
                           static_cast<uint32_t>(static_cast<uint16_t>(words[1]));
    Value = static_cast<int32_t>(value);
    MarkRead();
}

void TSettingUint32::ReportProgress() {
    if (ProgressPending) {
        ProgressPending = false;
        if (Owner()->OnProgress)
            Owner()->OnProgress(this, ProgressText, false, 2);
    }
    if (DisplayPending) {
        DisplayPending = false;
        UpdateDisplay(true);
    }
}

int32_t TSettingUint32::PendingCount() {
    return ReadPending ? 2 : 0;
}

void TSettingUint32::PutToStore() {
    TStoreLock lock(Store().Lock());
    const uint32_t value = static_cast<uint32_t>(Value);
    const int16_t words[2] = {static_cast<int16_t>(static_cast<uint16_t>(value >> 16)),
                              static_cast<int16_t>(static_cast<uint16_t>(value))};
    Store().SetHoldingRegisters(Register, words, 2);
}

void TSettingUint32::WriteToStore() {
    if (IsUnitsSelector || InTemplate)
        return;
    PutToStore();
}

void TSettingUint32::CopyValueFrom(TSetting* source) {
    if (dynamic_cast<TSettingUint32*>(source) == nullptr)
        throw TModelError("CopyValuesFrom Exception - class is not of type TSettingUint32");
    if (source->Value != Value)
        Value = source->Value;
    try {
        PutToStore();
    } catch (const std::exception&) {
        // As for every copy: a register outside the image is not written.
    }
}

bool TSettingUint32::FieldHolds(const TLoadedValue& loaded) const {
    // Two registers hold any 32 bits.
    (void)loaded;
    return true;
}

std::string TSettingUint32::LimitProblem(const TLoadedValue& loaded, const std::string& units) const {
    (void)units;
    return LimitsText(loaded.Value, MinValue32, MaxValue32, ValueText);
}
