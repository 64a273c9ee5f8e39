#pragma once
// A typed whole number in a coil, one holding register (optionally a bit field of it) or two
// holding registers, shown with a unit text; a reserved value shows as a dash.
#include "settings/Setting.h"

class TEditEvents;

// Typed text as a whole number within inclusive limits, refused with the editors' messages. A
// number outside the limits keeps its value. A units text after the number, as shown, is taken.
TParsed ParseIntegerText(const std::string& text, int32_t minValue, int32_t maxValue,
                         const std::string& valueText);
// Shows the refusal of `parsed`, if any; true when the value is taken.
bool AcceptParsed(const TParsed& parsed);
// A value with its units text ("150 %").
std::string WithValueText(int32_t value, const std::string& valueText);
// "" when `value` lies within the inclusive limits, else the value and the limits for a message.
std::string LimitsText(int32_t value, int32_t minValue, int32_t maxValue, const std::string& valueText);

class TSettingInt : public TSetting {
public:
    TSettingInt(TGroup* group, int32_t copyIndex);
    ~TSettingInt() override;

    void LoadFromXml(const pugi::xml_node& element) override;
    void CreateControls(QWidget* parent, int32_t index, int32_t top) override;
    void DestroyControls() override;
    void SetEnabled(bool enabled) override;
    void UpdateDisplay(bool withUnits) override;
    std::string ShownValue() override;
    std::vector<uint16_t> StoredWords() const override;
    bool FieldHolds(const TLoadedValue& loaded) const override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    void RegisterWithStore() override;
    void ReadFromStore() override;
    void ReportProgress() override;
    void CopyValueFrom(TSetting* source) override;
    void WriteToStore() override;

    bool ValidateText(const std::string& text);
    void EditEnter();
    // Returns false when the text is not valid and the focus must stay in the box.
    bool EditExit();
    void EditKeyDown();

    std::string ValueText;
    QPointer<QLineEdit> Edit;
    int32_t DisabledValue = -1;
    bool HasDisabledValue = false;

protected:
    std::string FormatText() const override;
    TParsed ParseText(const std::string& text) const override;
    void PutToStore() override;

private:
    QPointer<TEditEvents> FEvents;
    // A read asked for the plain value to be shown; done on the user-interface thread.
    bool FPlainDisplayPending = false;
};
