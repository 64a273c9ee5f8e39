#include "settings/Setting_name.h"

#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Messages.h"
#include "base/Unittext.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"

#include <QList>
#include <QString>
#include <algorithm>
#include <cstring>

TSettingName::TSettingName(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingName::~TSettingName() = default;

void TSettingName::SwapBytePairs(uint8_t* buffer, int count) {
    for (int i = 0; i < count - 1; i += 2)
        std::swap(buffer[i], buffer[i + 1]);
}

void TSettingName::LoadFromXml(const pugi::xml_node& element) {
    TSetting::LoadFromXml(element);
    NumOfRegisters = ReadRequiredInt(element, "NumOfRegisters");
    // The registers are the packing buffer's words, so at most 50 of them.
    if (NumOfRegisters < 1 || NumOfRegisters > BufferSize / 2) {
        throw TModelError("Setting '" + Name + "' has NumOfRegisters " + std::to_string(NumOfRegisters) +
                          ": a text setting holds 1 to 50 registers");
    }
    DefaultText = XmlGetAttribute(element, "default");
}

bool TSettingName::TakeText(const std::string& typed) {
    const TParsed parsed = Parse(typed);
    if (!parsed.Ok()) {
        ShowError(parsed.Error);
        return false;
    }
    Text = *parsed.Text;
    WriteToStore();
    return true;
}

TParsed TSettingName::ParseText(const std::string& text) const {
    TParsed parsed;
    parsed.Text = text;
    std::string refused;
    EncodeUnitText(text, &refused);
    if (!refused.empty()) {
        QString listed;
        for (const uint code : QString::fromStdString(refused).toUcs4()) {
            const auto character = static_cast<char32_t>(code);
            listed += (listed.isEmpty() ? "" : " ") + QString::fromUcs4(&character, 1);
        }
        parsed.Error = "The unit cannot store these characters of '" + text + "': " + listed.toStdString() +
                       "\nA text setting holds only the characters of Windows-1252 (Western European).";
    }
    return parsed;
}

void TSettingName::RestoreDefault() {
    Text = DefaultText;
    WriteToStore();
    UpdateDisplay(false);
}

void TSettingName::SaveToXml(pugi::xml_node& groupElement) {
    TSetting::SaveToXml(groupElement);
    // The text itself, so a save and load keeps it.
    groupElement.last_child().append_attribute("text") = Text.c_str();
}

int32_t TSettingName::Capacity() const {
    return 2 * std::clamp(NumOfRegisters, 0, BufferSize / 2);
}

TLoadedValue TSettingName::LoadValue(const pugi::xml_node& settingElement) {
    TLoadedValue loaded = TSetting::LoadValue(settingElement);
    const pugi::xml_attribute text = settingElement.attribute("text");
    if (!text)
        return loaded;
    loaded.HasText = true;
    // A file may hold what the unit cannot: characters outside its code page, or more than its
    // registers hold. The text is made what the unit will hold, and the change is told.
    std::string refused;
    std::string bytes = EncodeUnitText(text.value(), &refused);
    const bool cut = bytes.size() > static_cast<size_t>(Capacity());
    if (cut)
        bytes.resize(static_cast<size_t>(Capacity()));
    loaded.Text = DecodeUnitText(bytes);
    std::string changes;
    if (!refused.empty())
        changes = "characters the unit cannot store (" + refused + ") replaced by \"?\"";
    if (cut)
        changes += (changes.empty() ? "" : "; ") + std::string("cut to the ") + std::to_string(Capacity()) +
                   " characters its registers hold";
    if (!changes.empty())
        loaded.Warning = "Setting '" + Name + "': text " + changes + ".";
    return loaded;
}

void TSettingName::ApplyLoadedValue(const TLoadedValue& loaded) {
    if (loaded.HasText)
        Text = loaded.Text;
    TSetting::ApplyLoadedValue(loaded);
}

void TSettingName::AddCsvLine(TCsvWriter& csv) {
    // The text is a user's or a unit's, never a formula for a spreadsheet.
    csv.AddRow({Name, CsvSafeText(Text)});
}

void TSettingName::RegisterWithStore() {
    for (int32_t i = 0; i < NumOfRegisters; ++i)
        Store().InsertHoldingRegisterIndex(Register + i);
}

std::vector<uint16_t> TSettingName::StoredWords() const {
    const int32_t count = std::clamp(NumOfRegisters, 0, BufferSize / 2);
    uint8_t buffer[BufferSize] = {};
    // The unit's code page, one byte a character.
    const std::string bytes = EncodeUnitText(Text);
    std::memcpy(buffer, bytes.data(), std::min<size_t>(bytes.size(), BufferSize));
    // Only the first NumOfRegisters bytes are pair-exchanged, as the unit expects them.
    SwapBytePairs(buffer, count);
    std::vector<uint16_t> words(static_cast<size_t>(count));
    for (int32_t k = 0; k < count; ++k)
        words[static_cast<size_t>(k)] = static_cast<uint16_t>(buffer[2 * k] | (buffer[2 * k + 1] << 8));
    return words;
}

void TSettingName::PutToStore() {
    TStoreLock lock(Store().Lock());
    const std::vector<uint16_t> packed = StoredWords();
    std::vector<int16_t> words(packed.size());
    for (size_t k = 0; k < packed.size(); ++k)
        words[k] = static_cast<int16_t>(packed[k]);
    Store().SetHoldingRegisters(Register, words.data(), static_cast<int32_t>(words.size()));
}

void TSettingName::WriteToStore() {
    if (IsUnitsSelector || InTemplate)
        return;
    PutToStore();
}

void TSettingName::ReadFromStore() {
    if (!ReadPending)
        return;
    const int32_t count = std::clamp(NumOfRegisters, 0, BufferSize / 2);
    int16_t words[BufferSize / 2] = {};
    Store().GetHoldingRegisters(Register, words, count);
    uint8_t buffer[BufferSize + 1] = {};
    for (int32_t k = 0; k < count; ++k) {
        buffer[2 * k] = static_cast<uint8_t>(static_cast<uint16_t>(words[k]) & 0xFF);
        buffer[2 * k + 1] = static_cast<uint8_t>(static_cast<uint16_t>(words[k]) >> 8);
    }
    // The exact inverse of the write: every byte of every register, so a long text comes back whole.
    SwapBytePairs(buffer, count);
    // The text ends at its first zero byte; a control byte before it shows as "?".
    int replaced = 0;
    Text = DecodeUnitText(std::string_view(reinterpret_cast<const char*>(buffer),
                                           strnlen(reinterpret_cast<const char*>(buffer), 2 * count)),
                          &replaced);
    ReadWarning.clear();
    if (replaced > 0) {
        ReadWarning = "Setting '" + Name + "': " + std::to_string(replaced) +
                      " control byte(s) in the unit's text are shown as \"?\".";
    }
    MarkRead();
}

void TSettingName::CopyValueFrom(TSetting* source) {
    const auto* name = dynamic_cast<TSettingName*>(source);
    if (name == nullptr)
        throw TModelError("CopyValuesFromSetting Exception - class is not of type TSettingName");
    Text = name->Text;
    try {
        PutToStore();
    } catch (const std::exception&) {
        // As for every copy: a register outside the image is not written.
    }
}

bool TSettingName::FieldHolds(const TLoadedValue& loaded) const {
    // The registers hold the text; the number is not written.
    (void)loaded;
    return true;
}
