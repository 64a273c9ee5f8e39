#pragma once
// An air velocity or pressure held as a units word: 16 bits that record the unit the number
// was entered in, so it shows in either unit of its pair. Velocity words: bit 15 set for ft/min
// (else hundredths of m/sec), bits 0-14 the magnitude. Pressure words: bit 15 set for Pa (else
// hundredths of ins Wg), bit 14 set for zero and above, bits 0-13 the magnitude.
#include "settings/Setting.h"

class TSettingUnits : public TSetting {
public:
    TSettingUnits(TGroup* group, int32_t copyIndex);
    ~TSettingUnits() override;

    // The codec. Units other than "m/sec", "ft/min", "Pa" and "ins Wg" work as "m/sec".
    static uint16_t EncodeAs(const std::string& units, float x);
    static float DecodeAs(int32_t word, const std::string& units);
    uint16_t Encode(float x) const;
    float Decode(int32_t word) const;
    // Two decimals with a point, whatever the locale.
    static std::string FormatFixed2(float value);
    // A number as the editor shows it in `units`: whole for ft/min and Pa, else two decimals.
    static std::string FormatAs(float value, const std::string& units);

    void LoadFromXml(const pugi::xml_node& element) override;
    std::string LimitProblem(const TLoadedValue& loaded, const std::string& units) const override;
    double ComparableValue(int32_t value) override;

    std::string DisplayText(bool withUnits) const override;
    // The number in the current units without them.
    std::string EntryText() const override { return DisplayText(false); }

protected:
    std::string FormatText() const override;
    TParsed ParseText(const std::string& text) const override;

private:
    // The typed number in the current units; the refusal when the text is not a number of the
    // kind those units take, else "".
    std::string ParseNumber(const std::string& text, float& number) const;
    const std::string& Units() const;
    // Whether the number's magnitude fits the word of the current units without flag bits.
    bool FitsWord(float number) const;
};

// Shared by units and label settings: a value compared across settings in whole m/sec or Pa,
// whichever pair the current units belong to.
double UnitsComparableValue(int32_t value, const std::string& units);
