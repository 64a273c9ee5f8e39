#pragma once
// A read-only number shown with the tree's current units, or only a caption.
#include "settings/Setting.h"

class TSettingLabel : public TSetting {
public:
    TSettingLabel(TGroup* group, int32_t copyIndex);
    ~TSettingLabel() override;

    static float DecodeAs(int32_t word, const std::string& units);

    void LoadFromXml(const pugi::xml_node& element) override;
    void MarkForRead() override;
    bool DisplayOnly() const override { return true; }
    // A read-only display: never written, so never compared.
    std::vector<uint16_t> StoredWords() const override { return {}; }
    bool FieldHolds(const TLoadedValue& loaded) const override;
    double ComparableValue(int32_t value) override;
    void WriteToStore() override;

    std::string DisplayText(bool withUnits) const override;

    bool LabelOnly = false;

protected:
    std::string FormatText() const override;
};
