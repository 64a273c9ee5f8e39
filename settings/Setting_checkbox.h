#pragma once
// An on/off value in a coil or a holding register, or two whole-register values of a holding
// register that another setting also shows.
#include "settings/Setting.h"

class QCheckBox;

class TSettingCheckBox : public TSetting {
public:
    TSettingCheckBox(TGroup* group, int32_t copyIndex);
    ~TSettingCheckBox() override;

    void LoadFromXml(const pugi::xml_node& element) override;
    void CreateControls(QWidget* parent, int32_t index, int32_t top) override;
    void DestroyControls() override;
    void SetEnabled(bool enabled) override;
    void UpdateDisplay(bool withUnits) override;
    std::vector<uint16_t> StoredWords() const override;
    bool FieldHolds(const TLoadedValue& loaded) const override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    void RegisterWithStore() override;
    void ReadFromStore() override;
    void WriteToStore() override;

    void CheckBoxClick();

    QPointer<QCheckBox> CheckBox;
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
