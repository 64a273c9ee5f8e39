#include "settings/Setting.h"

#include "base/Convert.h"
#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Settings.h"

#include <cmath>
#include <cstring>

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
}

bool AcceptParsed(const TParsed& parsed) {
    if (parsed.Ok())
        return true;
    ShowError(parsed.Error);
    return false;
}

bool ReadOptionalInt(const pugi::xml_node& element, const char* name, int32_t& value) {
    const pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute)
        return false;
    value = StrToInt(attribute.value());
    return true;
}

int32_t ReadRequiredInt(const pugi::xml_node& element, const char* name) {
    return StrToInt(XmlGetAttribute(element, name));
}

TSetting::TSetting(TGroup* group, int32_t copyIndex) : Group(group), CopyIndex(copyIndex) {}

TSetting::~TSetting() = default;

TSettings* TSetting::Owner() const {
    return Group->Owner;
}

TRegisterDataStore& TSetting::Store() const {
    return Group->Owner->Store();
}

void TSetting::LoadFromXml(const pugi::xml_node& element) {
    Id = Owner()->NextSettingId++;
    Name = XmlGetAttribute(element, "name");
    // 32-bit arithmetic that wraps: a register number past the end of the range comes out as a
    // number the register data store refuses when the device type is opened.
    Register = static_cast<int32_t>(static_cast<uint32_t>(ReadRequiredInt(element, "register")) + 1u);

    const std::string type = XmlGetAttribute(element, "type");
    if (type == "coil")
        RegisterType = rtCoil;
    else if (type == "discrete_input")
        RegisterType = rtDiscreteInput;
    else if (type == "holding_register")
        RegisterType = rtHoldingRegister;
    else if (type == "input_register")
        RegisterType = rtInputRegister;
    else
        throw TModelError("Unknown value type : " + type);

    if (element.attribute("units"))
        IsUnitsSelector = true;
    ReadOptionalInt(element, "exclusiongroup", ExclusionGroup);
    ReadOptionalInt(element, "excludeallowed", ExcludeAllowed);
    if (const pugi::xml_attribute a = element.attribute("minsetting"))
        MinSetting = a.value();
    if (const pugi::xml_attribute a = element.attribute("maxsetting"))
        MaxSetting = a.value();
    if (const pugi::xml_attribute a = element.attribute("bold"))
        Bold = StrToBool(a.value());
    int32_t offset = 0;
    if (ReadOptionalInt(element, "offset", offset))
        Register =
            static_cast<int32_t>(static_cast<int64_t>(Register) + static_cast<int64_t>(offset) * CopyIndex);
    ReadOptionalInt(element, "value_offset", ValueOffset);
    int32_t mask = 0;
    if (ReadOptionalInt(element, "bitmask", mask)) {
        if (mask < -32768 || mask > 32767) {
            throw TConvertError("'" + std::string(element.attribute("bitmask").value()) +
                                "' is not a valid bitmask (-32768 to 32767)");
        }
        BitMask = static_cast<int16_t>(mask);
    }
    ReadOptionalInt(element, "scaling_factor", ScalingFactor);
}

void TSetting::SetEnabled(bool enabled) {
    Enabled = enabled;
    if (View != nullptr)
        View->ShowEnabled(enabled);
}

void TSetting::UpdateDisplay(bool withUnits) {
    if (View != nullptr)
        View->ShowValue(withUnits);
}

void TSetting::RestoreDefault() {
    Value = DefaultValue;
    WriteToStore();
    UpdateDisplay(true);
}

void TSetting::SaveToXml(pugi::xml_node& groupElement) {
    pugi::xml_node element = groupElement.append_child("setting");
    element.append_attribute("name") = Name.c_str();
    element.append_attribute("ID") = Id;
    element.append_attribute("value") = Value;
    element.append_attribute("register") = RegisterType == rtNone ? -1 : FileRegister();
}

TLoadedValue TSetting::ReadValueAttribute(const pugi::xml_node& settingElement, const char* attribute) const {
    // A missing attribute reads as empty text, which the conversion refuses.
    TLoadedValue loaded;
    loaded.Value = StrToInt(settingElement.attribute(attribute).value());
    return loaded;
}

TLoadedValue TSetting::LoadValue(const pugi::xml_node& settingElement) {
    return ReadValueAttribute(settingElement, "value");
}

TLoadedValue TSetting::FindLoadedValue(const pugi::xml_node& groupElement) {
    for (pugi::xml_node child : groupElement.children()) {
        if (std::strcmp(child.name(), "setting") != 0)
            continue;
        if (StrToInt(child.attribute("ID").value()) == Id)
            return LoadValue(child);
    }
    throw TModelError("Could not find a value for setting '" + Name + "' in the XML document");
}

void TSetting::ApplyLoadedValue(const TLoadedValue& loaded) {
    Value = loaded.Value;
    WriteToStore();
    UpdateDisplay(true);
}

bool TSetting::FieldHolds(const TLoadedValue& loaded) const {
    if (RegisterType == rtCoil)
        return loaded.Value == 0 || loaded.Value == 1;
    if (RegisterType != rtHoldingRegister)
        return true;
    return TRegisterDataStore::FieldHolds(StoredValue(loaded.Value), BitMask);
}

std::string TSetting::LimitProblem(const TLoadedValue& loaded, const std::string& units) const {
    (void)loaded;
    (void)units;
    return {};
}

void TSetting::LoadFromSettingsXml(const pugi::xml_node& groupElement) {
    ApplyLoadedValue(FindLoadedValue(groupElement));
}

void TSetting::MarkForRead() {
    if (InTemplate)
        return;
    ProgressPending = false;
    ReadPending = true;
}

void TSetting::AddCsvLine(TCsvWriter& csv) {
    csv.AddRow({Name, ShownValue()});
}

void TSetting::RegisterWithStore() {
    if (InTemplate)
        return;
    if (RegisterType == rtCoil)
        Store().InsertCoilIndex(Register, !DisplayOnly());
    else if (RegisterType == rtHoldingRegister)
        Store().InsertHoldingRegisterIndex(Register, !DisplayOnly());
}

bool TSetting::Service(int32_t address, MbusMasterFunctions* protocol) {
    (void)address;
    (void)protocol;
    ProgressPending = ReadPending;
    DisplayPending = false;
    ReadFromStore();
    return true;
}

int16_t TSetting::ReadConverted() const {
    uint16_t raw = 0;
    if (RegisterType == rtCoil) {
        raw = Store().GetCoil(Register) ? 1 : 0;
    } else if (RegisterType == rtHoldingRegister) {
        TRegisterDataStore& store = Store();
        int16_t word = 0;
        if (BitMask != 0)
            word = store.GetHoldingRegisterBits(Register, BitMask);
        else
            store.GetHoldingRegisters(Register, &word, 1);
        raw = static_cast<uint16_t>(static_cast<uint16_t>(word) - static_cast<uint16_t>(ValueOffset));
        raw = static_cast<uint16_t>(static_cast<int32_t>(static_cast<int16_t>(raw)) / Scaling());
    }
    return static_cast<int16_t>(raw);
}

void TSetting::MarkRead() {
    ProgressText = "Reading setting " + Name + "...";
    DisplayPending = true;
    ReadPending = false;
}

void TSetting::ReadFromStore() {
    if (!ReadPending)
        return;
    const int16_t raw = ReadConverted();
    ProgressText = "Reading setting " + Name + "...";
    DisplayPending = true;
    Value = raw;
    ReadPending = false;
}

void TSetting::ReportProgress() {
    if (ProgressPending) {
        ProgressPending = false;
        if (Owner()->OnProgress)
            Owner()->OnProgress(this, ProgressText, false, 1);
    }
    if (DisplayPending) {
        DisplayPending = false;
        UpdateDisplay(true);
    }
}

int32_t TSetting::PendingCount() {
    return ReadPending ? 1 : 0;
}

void TSetting::ClearPending() {
    ReadPending = false;
}

std::string TSetting::FormatText() const {
    return std::to_string(Value);
}

TParsed TSetting::ParseText(const std::string& text) const {
    TParsed parsed;
    parsed.Value = TryStrToInt(text);
    if (!parsed.Value)
        parsed.Error = "'" + text + "' is not a valid integer value";
    return parsed;
}

std::vector<uint16_t> TSetting::StoredWords() const {
    if (RegisterType == rtCoil)
        return {static_cast<uint16_t>(Value != 0 ? 1 : 0)};
    if (RegisterType != rtHoldingRegister)
        return {};
    // The low 16 bits PutToStore writes; a masked field holds the same number in its bits.
    return {static_cast<uint16_t>(static_cast<uint32_t>(StoredValue(Value)))};
}

double TSetting::ComparableValue(int32_t value) {
    return value;
}

void TSetting::PutToStore() {
    // Every change of the image is made under its lock: a worker may be stepping it.
    TStoreLock lock(Store().Lock());
    if (RegisterType == rtCoil) {
        Store().SetCoil(Register, Value != 0);
    } else if (RegisterType == rtHoldingRegister) {
        const uint32_t wide = static_cast<uint32_t>(Value) * static_cast<uint32_t>(Scaling()) +
                              static_cast<uint32_t>(ValueOffset);
        const int16_t word = static_cast<int16_t>(static_cast<uint16_t>(wide));
        if (BitMask != 0)
            Store().SetHoldingRegisterBits(Register, word, BitMask);
        else
            Store().SetHoldingRegister(Register, word);
    }
}

void TSetting::WriteToStore() {
    if (IsUnitsSelector || InTemplate)
        return;
    PutToStore();
}

void TSetting::CopyValueFrom(TSetting* source) {
    Value = source->Value;
    try {
        PutToStore();
    } catch (const std::exception&) {
        // A copy whose register is not in the image simply does not reach it.
    }
}

bool TSetting::CheckLimitSettings(int32_t value) {
    TSetting* lower = MinSetting.empty() ? nullptr : Owner()->FindSetting(MinSetting);
    TSetting* upper = MaxSetting.empty() ? nullptr : Owner()->FindSetting(MaxSetting);
    const float v = static_cast<float>(ComparableValue(value));
    const auto bound = [](TSetting* b) { return static_cast<float>(b->ComparableValue(b->Value)); };

    if (lower != nullptr && upper != nullptr && (v < bound(lower) || v > bound(upper))) {
        ShowError("Setting '" + Name + "' must be greater than setting '" + lower->Name +
                  "' and less than setting '" + upper->Name + "'");
        return false;
    }
    if (lower != nullptr && v < bound(lower)) {
        ShowError("Setting '" + Name + "' must be greater than setting '" + lower->Name + "'");
        return false;
    }
    if (upper != nullptr && v > bound(upper)) {
        ShowError("Setting '" + Name + "' must be less than setting '" + upper->Name + "'");
        return false;
    }
    return true;
}

void TSetting::NotifyEdited() {
    if (Owner()->OnEdited)
        Owner()->OnEdited();
}

void TSetting::ShowMark() {
    if (View != nullptr)
        View->ShowMark();
}

bool TSetting::ValidateText(const std::string& text) {
    return AcceptParsed(Parse(text));
}

bool TSetting::TakeText(const std::string& text) {
    const TParsed parsed = Parse(text);
    if (!AcceptParsed(parsed))
        return false;
    const int32_t value = *parsed.Value;
    if (CheckLimitSettings(value) && value != Value) {
        Value = value;
        WriteToStore();
    }
    UpdateDisplay(true);
    return true;
}

void TSetting::SwapWords(uint32_t& value) {
    value = (value << 16) | (value >> 16);
}

void TSetting::CopyToAllGroupsClick() {
    try {
        Owner()->CopyToAllGroups(this, Group);
    } catch (const std::exception& e) {
        ShowPlain(std::string("Copy to all groups exception - ") + e.what());
    }
}

void TSetting::CopyToAllControllersClick() {
    try {
        Owner()->CopyToAllControllers(this);
    } catch (const std::exception& e) {
        ShowPlain(std::string("Copy to all ZA9's exception - ") + e.what());
    }
}
