#include "settings/Setting_name.h"

#include "modbus/Registerdatastore.h"
#include "model/Errors.h"
#include "model/Xmlutil.h"
#include "settings/Editevents.h"
#include "settings/Storeaccess.h"

#include <QLineEdit>
#include <algorithm>
#include <cstring>

TSettingName::TSettingName(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingName::~TSettingName() {
    DestroyControls();
}

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

void TSettingName::CreateControls(QWidget* parent, int32_t index, int32_t top) {
    TSetting::CreateControls(parent, index, top);
    QLineEdit* edit = NewEditBox(parent, index, 200, top, 140);
    Edit = edit;
    FEvents = new TEditEvents(
        edit, nullptr,
        [this] {
            EditExit();
            return true;
        },
        nullptr);
    edit->show();
    edit->setEnabled(Enabled);
    edit->setReadOnly(!Enabled);
    CreateCopyButtons(parent, index, top, 350);
    UpdateDisplay(true);
}

void TSettingName::DestroyControls() {
    TSetting::DestroyControls();
    FreeEditBox(Edit, FEvents);
}

void TSettingName::SetEnabled(bool enabled) {
    Enabled = enabled;
    if (Edit) {
        Edit->setReadOnly(!enabled);
        Edit->setEnabled(enabled);
    }
}

void TSettingName::UpdateDisplay(bool withUnits) {
    (void)withUnits;
    if (Edit)
        Edit->setText(QString::fromStdString(Text));
}

void TSettingName::EditExit() {
    if (!Edit)
        return;
    Text = Edit->text().toStdString();
    WriteToStore();
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

TLoadedValue TSettingName::LoadValue(const pugi::xml_node& settingElement) {
    TLoadedValue loaded = TSetting::LoadValue(settingElement);
    if (const pugi::xml_attribute text = settingElement.attribute("text")) {
        loaded.HasText = true;
        loaded.Text = text.value();
    }
    return loaded;
}

void TSettingName::ApplyLoadedValue(const TLoadedValue& loaded) {
    if (loaded.HasText)
        Text = loaded.Text;
    TSetting::ApplyLoadedValue(loaded);
}

void TSettingName::AddCsvLine(std::vector<std::string>& list) {
    list.push_back(Name + "," + Text);
}

void TSettingName::RegisterWithStore() {
    for (int32_t i = 0; i < NumOfRegisters; ++i)
        RequireRegisterDataStore().InsertHoldingRegisterIndex(Register + i);
}

void TSettingName::PutToStore() {
    const int32_t count = std::clamp(NumOfRegisters, 0, BufferSize / 2);
    uint8_t buffer[BufferSize] = {};
    std::memcpy(buffer, Text.data(), std::min<size_t>(Text.size(), BufferSize));
    // Only the first NumOfRegisters bytes are pair-exchanged, as the unit expects them.
    SwapBytePairs(buffer, count);
    int16_t words[BufferSize / 2];
    for (int32_t k = 0; k < count; ++k)
        words[k] = static_cast<int16_t>(static_cast<uint16_t>(buffer[2 * k] | (buffer[2 * k + 1] << 8)));
    RequireRegisterDataStore().SetHoldingRegisters(Register, words, count);
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
    RequireRegisterDataStore().GetHoldingRegisters(Register, words, count);
    uint8_t buffer[BufferSize + 1] = {};
    for (int32_t k = 0; k < count; ++k) {
        buffer[2 * k] = static_cast<uint8_t>(static_cast<uint16_t>(words[k]) & 0xFF);
        buffer[2 * k + 1] = static_cast<uint8_t>(static_cast<uint16_t>(words[k]) >> 8);
    }
    // The exact inverse of the write: every byte of every register, so a long text comes back whole.
    SwapBytePairs(buffer, count);
    Text = std::string(reinterpret_cast<const char*>(buffer),
                       strnlen(reinterpret_cast<const char*>(buffer), 2 * count));
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
