#pragma once
// An on/off value in a coil or a holding register, or two whole-register values of a holding
// register that another setting also shows.
#include "settings/Setting.h"

class TSettingCheckBox : public TSetting {
public:
    TSettingCheckBox(TGroup* group, int32_t copyIndex);
    ~TSettingCheckBox() override;

    void LoadFromXml(const pugi::xml_node& element) override;
    std::vector<uint16_t> StoredWords() const override;
    bool FieldHolds(const TLoadedValue& loaded) const override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    void RegisterWithStore() override;
    void ReadFromStore() override;
    void WriteToStore() override;

    // The engineer checked or unchecked the box; with custom values the group reads its
    // register again, as another setting shows it too.
    void TakeChecked(bool checked);

    bool HasCustomValues = false;
    int32_t UncheckedValue = 0;
    int32_t CheckedValue = 1;

protected:
    std::string FormatText() const override;
    // "Enabled" or "Disabled", as Text() shows the box.
    TParsed ParseText(const std::string& text) const override;
    void PutToStore() override;

private:
    // Whether the whole register, less the offset, holds the checked value.
    bool RegisterHoldsChecked() const;
};
