#include "settings/Setting_int.h"

#include "base/Convert.h"
#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"

TParsed ParseIntegerText(const std::string& text, int32_t minValue, int32_t maxValue,
                         const std::string& valueText) {
    std::string number = text;
    const std::string suffix = " " + valueText;
    if (!valueText.empty() && number.size() > suffix.size() &&
        number.compare(number.size() - suffix.size(), suffix.size(), suffix) == 0)
        number.resize(number.size() - suffix.size());
    TParsed parsed;
    parsed.Value = TryStrToInt(number);
    if (!parsed.Value)
        parsed.Error = "'" + text + "' is not a valid integer value";
    else if (*parsed.Value < minValue)
        parsed.Error = "The minimum value this setting can be is '" + std::to_string(minValue) + "'";
    else if (*parsed.Value > maxValue)
        parsed.Error = "The maximum value this setting can be is '" + std::to_string(maxValue) + "'";
    return parsed;
}

namespace {
const char* const ReadCountError = "An Int register has been set to more than 2 registers";
const char* const SizeError = "An Int register has been set to a size of more than 2 registers";
} // namespace

TSettingInt::TSettingInt(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingInt::~TSettingInt() = default;

void TSettingInt::LoadFromXml(const pugi::xml_node& element) {
    TSetting::LoadFromXml(element);
    MinValue = ReadRequiredInt(element, "min");
    MaxValue = ReadRequiredInt(element, "max");
    DefaultValue = ReadRequiredInt(element, "default");
    ReadOptionalInt(element, "XOffset", XOffset);
    ReadOptionalInt(element, "YOffset", YOffset);
    ValueText = XmlGetAttribute(element, "value_text");
    if (ReadOptionalInt(element, "DisabledValue", DisabledValue))
        HasDisabledValue = true;
    else
        DisabledValue = static_cast<int32_t>(static_cast<uint32_t>(MinValue) - 1u);
    ReadOptionalInt(element, "NumOfRegisters", NumOfRegisters);
}

std::string TSettingInt::DisplayText(bool withUnits) const {
    if (Value == DisabledValue)
        return "-";
    return std::to_string(Value) + (withUnits ? " " + ValueText : std::string());
}

TParsed TSettingInt::ParseText(const std::string& text) const {
    return ParseIntegerText(text, MinValue, MaxValue, ValueText);
}

std::string TSettingInt::ShownValue() {
    // The export's shape: number, space, units text, the space even without a units text.
    return std::to_string(Value) + " " + ValueText;
}

std::string TSettingInt::FormatText() const {
    return WithValueText(Value, ValueText);
}

std::vector<uint16_t> TSettingInt::StoredWords() const {
    if (RegisterType != rtHoldingRegister || NumOfRegisters != 2)
        return TSetting::StoredWords();
    const uint32_t raw =
        static_cast<uint32_t>(Value) * static_cast<uint32_t>(Scaling()) + static_cast<uint32_t>(ValueOffset);
    // The first register holds the high half, as PutToStore writes it.
    return {static_cast<uint16_t>(raw >> 16), static_cast<uint16_t>(raw)};
}

void TSettingInt::RegisterWithStore() {
    if (NumOfRegisters == 1) {
        TSetting::RegisterWithStore();
    } else if (NumOfRegisters == 2) {
        if (InTemplate)
            return;
        Store().InsertHoldingRegisterIndex(Register);
        Store().InsertHoldingRegisterIndex(Register + 1);
    } else {
        throw TModelError(SizeError);
    }
}

void TSettingInt::ReadFromStore() {
    if (ReadPending) {
        uint32_t raw = 0;
        if (RegisterType == rtCoil) {
            raw = Store().GetCoil(Register) ? 1 : 0;
        } else if (RegisterType == rtHoldingRegister) {
            TRegisterDataStore& store = Store();
            if (NumOfRegisters == 1) {
                int16_t word = 0;
                if (BitMask != 0)
                    word = store.GetHoldingRegisterBits(Register, BitMask);
                else
                    store.GetHoldingRegisters(Register, &word, 1);
                raw = static_cast<uint32_t>(static_cast<int32_t>(word));
            } else if (NumOfRegisters == 2) {
                int16_t words[2] = {0, 0};
                store.GetHoldingRegisters(Register, words, 2);
                raw = static_cast<uint32_t>(static_cast<uint16_t>(words[0])) |
                      (static_cast<uint32_t>(static_cast<uint16_t>(words[1])) << 16);
            } else {
                throw TModelError(ReadCountError);
            }
        }
        ProgressText = "Reading setting " + Name + "...";
        DisplayPending = true;
        // Two registers hold the value high half first.
        if (NumOfRegisters == 2)
            SwapWords(raw);
        const int64_t value = (static_cast<int64_t>(static_cast<int32_t>(raw)) - ValueOffset) / Scaling();
        Value = static_cast<int32_t>(static_cast<uint32_t>(value));
        ReadPending = false;
    }
    // The plain value is shown after every read step; this may run on the worker thread, so the
    // display itself waits for ReportProgress on the user-interface thread.
    if (HasDisabledValue)
        FPlainDisplayPending = true;
}

void TSettingInt::ReportProgress() {
    if (FPlainDisplayPending) {
        FPlainDisplayPending = false;
        // Never overwrite what the user is typing.
        if (View != nullptr && !View->Typing())
            UpdateDisplay(false);
    }
    TSetting::ReportProgress();
}

void TSettingInt::PutToStore() {
    TStoreLock lock(Store().Lock());
    if (RegisterType == rtCoil) {
        Store().SetCoil(Register, Value != 0);
    } else if (RegisterType == rtHoldingRegister) {
        if (NumOfRegisters == 1) {
            TSetting::PutToStore();
        } else if (NumOfRegisters == 2) {
            uint32_t raw = static_cast<uint32_t>(Value) * static_cast<uint32_t>(Scaling()) +
                           static_cast<uint32_t>(ValueOffset);
            SwapWords(raw);
            const int16_t words[2] = {static_cast<int16_t>(static_cast<uint16_t>(raw)),
                                      static_cast<int16_t>(static_cast<uint16_t>(raw >> 16))};
            Store().SetHoldingRegisters(Register, words, 2);
        } else {
            throw TModelError(SizeError);
        }
    }
}

void TSettingInt::WriteToStore() {
    if (IsUnitsSelector || InTemplate)
        return;
    PutToStore();
}

void TSettingInt::CopyValueFrom(TSetting* source) {
    if (dynamic_cast<TSettingInt*>(source) == nullptr)
        throw TModelError("CopyValuesFrom Exception - class is not of type TSettingInt");
    Value = source->Value;
    // The copy must reach the register image, or "Write Settings" would never send it.
    try {
        PutToStore();
    } catch (const std::exception&) {
        // As for every copy: a register outside the image is not written.
    }
}

std::string WithValueText(int32_t value, const std::string& valueText) {
    return std::to_string(value) + (valueText.empty() ? std::string() : " " + valueText);
}

std::string LimitsText(int32_t value, int32_t minValue, int32_t maxValue, const std::string& valueText) {
    if (value >= minValue && value <= maxValue)
        return {};
    return WithValueText(value, valueText) + " (limits " + std::to_string(minValue) + " to " +
           WithValueText(maxValue, valueText) + ")";
}

bool TSettingInt::FieldHolds(const TLoadedValue& loaded) const {
    if (RegisterType == rtHoldingRegister && NumOfRegisters == 2) {
        const int64_t stored = StoredValue(loaded.Value);
        return stored >= INT32_MIN && stored <= int64_t{UINT32_MAX};
    }
    return TSetting::FieldHolds(loaded);
}

std::string TSettingInt::LimitProblem(const TLoadedValue& loaded, const std::string& units) const {
    (void)units;
    // A defined reserved value is one the unit uses; it shows as a dash.
    if (HasDisabledValue && loaded.Value == DisabledValue)
        return {};
    return LimitsText(loaded.Value, MinValue, MaxValue, ValueText);
}
