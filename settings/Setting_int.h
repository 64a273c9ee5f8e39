#pragma once
// A typed whole number in a coil, one holding register (optionally a bit field of it) or two
// holding registers, shown with a unit text; a reserved value shows as a dash.
#include "settings/Setting.h"

// Typed text as a whole number within inclusive limits, refused with the editors' messages. A
// number outside the limits keeps its value. A units text after the number, as shown, is taken.
TParsed ParseIntegerText(const std::string& text, int32_t minValue, int32_t maxValue,
                         const std::string& valueText);
// A value with its units text ("150 %").
std::string WithValueText(int32_t value, const std::string& valueText);
// "" when `value` lies within the inclusive limits, else the value and the limits for a message.
std::string LimitsText(int32_t value, int32_t minValue, int32_t maxValue, const std::string& valueText);

class TSettingInt : public TSetting {
public:
    TSettingInt(TGroup* group, int32_t copyIndex);
    ~TSettingInt() override;

    void LoadFromXml(const pugi::xml_node& element) override;
    // The plain number, or a dash for the reserved value; the units text after it when asked
    // for (after a space, even when the units text is empty).
    std::string DisplayText(bool withUnits) const override;
    std::string ShownValue() override;
    std::vector<uint16_t> StoredWords() const override;
    bool FieldHolds(const TLoadedValue& loaded) const override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    void RegisterWithStore() override;
    void ReadFromStore() override;
    void ReportProgress() override;
    void CopyValueFrom(TSetting* source) override;
    void WriteToStore() override;

    std::string ValueText;
    int32_t DisabledValue = -1;
    bool HasDisabledValue = false;

protected:
    std::string FormatText() const override;
    TParsed ParseText(const std::string& text) const override;
    void PutToStore() override;

private:
    // A read asked for the plain value to be shown; done on the user-interface thread.
    bool FPlainDisplayPending = false;
};
