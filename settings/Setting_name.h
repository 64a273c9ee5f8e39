#pragma once
// A short text packed two characters to a holding register over consecutive registers.
#include "settings/Setting.h"

class TEditEvents;

class TSettingName : public TSetting {
public:
    // The packing buffer: at most this many bytes of the text reach the registers.
    static constexpr int BufferSize = 100;

    TSettingName(TGroup* group, int32_t copyIndex);
    ~TSettingName() override;

    static void SwapBytePairs(uint8_t* buffer, int count);

    void LoadFromXml(const pugi::xml_node& element) override;
    void CreateControls(QWidget* parent, int32_t index, int32_t top) override;
    void DestroyControls() override;
    void SetEnabled(bool enabled) override;
    void UpdateDisplay(bool withUnits) override;
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

    // Takes the typed text; refuses (false) a text with characters the unit cannot store.
    bool EditExit();

    std::string Text;
    std::string DefaultText;
    // What the last read from the image had to replace to show the unit's text; empty when
    // nothing.
    std::string ReadWarning;
    QPointer<QLineEdit> Edit;

protected:
    std::string FormatText() const override { return Text; }
    // The text, refused where it holds characters the unit cannot store.
    TParsed ParseText(const std::string& text) const override;
    void PutToStore() override;

private:
    // The most bytes the registers hold.
    int32_t Capacity() const;

    QPointer<TEditEvents> FEvents;
};
