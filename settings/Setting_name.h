#pragma once
// A short text packed two characters to a holding register over consecutive registers.
#include "settings/Setting.h"

class TSettingName : public TSetting {
public:
    // The packing buffer: at most this many bytes of the text reach the registers.
    static constexpr int BufferSize = 100;

    TSettingName(TGroup* group, int32_t copyIndex);
    ~TSettingName() override;

    static void SwapBytePairs(uint8_t* buffer, int count);

    void LoadFromXml(const pugi::xml_node& element) override;
    std::string DisplayText(bool withUnits) const override {
        (void)withUnits;
        return Text;
    }
    void RestoreDefault() override;
    void SaveToXml(pugi::xml_node& groupElement) override;
    TLoadedValue LoadValue(const pugi::xml_node& settingElement) override;
    void ApplyLoadedValue(const TLoadedValue& loaded) override;
    void AddCsvLine(TCsvWriter& csv) override;
    std::vector<uint16_t> StoredWords() const override;
    bool FieldHolds(const TLoadedValue& loaded) const override;
    void RegisterWithStore() override;
    void ReadFromStore() override;
    void CopyValueFrom(TSetting* source) override;
    void WriteToStore() override;

    // Takes the typed text and writes it, also unchanged; refuses (false) a text with characters
    // the unit cannot store.
    bool TakeText(const std::string& typed) override;

    std::string Text;
    std::string DefaultText;
    // What the last read from the image had to replace to show the unit's text; empty when
    // nothing.
    std::string ReadWarning;

protected:
    std::string FormatText() const override { return Text; }
    // The text, refused where it holds characters the unit cannot store.
    TParsed ParseText(const std::string& text) const override;
    void PutToStore() override;

private:
    // The most bytes the registers hold.
    int32_t Capacity() const;
};
