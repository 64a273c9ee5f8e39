#pragma once
// A 32-bit value in two holding registers, high half first, without conversion. Entry, limits,
// display and export treat it as signed; settings files also carry it unsigned.
#include "settings/Setting.h"

class TSettingUint32 : public TSetting {
public:
    TSettingUint32(TGroup* group, int32_t copyIndex);
    ~TSettingUint32() override;

    void LoadFromXml(const pugi::xml_node& element) override;
    // The number and its units text, with or without `withUnits`.
    std::string DisplayText(bool withUnits) const override;
    void RestoreDefault() override;
    void SaveToXml(pugi::xml_node& groupElement) override;
    TLoadedValue LoadValue(const pugi::xml_node& settingElement) override;
    std::string ShownValue() override;
    std::vector<uint16_t> StoredWords() const override;
    bool FieldHolds(const TLoadedValue& loaded) const override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    void RegisterWithStore() override;
    int32_t RegisterSpan() const override { return 2; }
    void ReadFromStore() override;
    void ReportProgress() override;
    int32_t PendingCount() override;
    void CopyValueFrom(TSetting* source) override;
    void WriteToStore() override;

    std::string ValueText;
    int32_t DefaultValue32 = 0;
    int32_t MinValue32 = 0;
    int32_t MaxValue32 = 0;

protected:
    std::string FormatText() const override;
    TParsed ParseText(const std::string& text) const override;
    void PutToStore() override;
};
