#include "settings/Setting_units.h"

#include "base/Convert.h"
#include "base/Csv.h"
#include "base/Messages.h"
#include "base/Xmlutil.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"

#include <QLocale>
#include <charconv>
#include <cmath>

namespace {

bool IsPressure(const std::string& units) {
    return units == "Pa" || units == "ins Wg";
}
// Units whose numbers are whole: typed as integers and shown without decimals.
bool IsWhole(const std::string& units) {
    return units == "ft/min" || units == "Pa";
}

// Truncation toward zero that never faults on a number too large for the word.
int64_t Trunc(long double value) {
    if (!(std::fabs(value) < 9.0e18L))
        return 0;
    return static_cast<int64_t>(value);
}

// Each product is rounded to single precision before the next step, as the unit computes it.
float Single(long double value) {
    return static_cast<float>(value);
}

} // namespace

uint16_t TSettingUnits::EncodeAs(const std::string& units, float x) {
    int64_t word = 0;
    if (units == "ft/min") {
        word = Trunc(x) | 0x8000;
    } else if (units == "ins Wg") {
        const bool negative = x < 0;
        word = Trunc(Single(static_cast<long double>(std::fabs(x)) * 100.0L));
        if (!negative)
            word |= 0x4000;
    } else if (units == "Pa") {
        const bool negative = x < 0;
        word = Trunc(std::fabs(x));
        if (!negative)
            word |= 0x4000;
        word |= 0x8000;
    } else {
        word = Trunc(Single(static_cast<long double>(x) * 100.0L));
    }
    return static_cast<uint16_t>(word);
}

float TSettingUnits::DecodeAs(int32_t word, const std::string& units) {
    const uint16_t w = static_cast<uint16_t>(word);
    const bool b15 = (w & 0x8000) != 0;
    bool negative = false;
    uint32_t m;
    if (IsPressure(units)) {
        negative = (w & 0x4000) == 0;
        m = w & 0x3FFFu;
    } else {
        m = w & 0x7FFFu;
    }
    const long double magnitude = m;
    float result;
    if (units == "ft/min")
        result = b15 ? Single(magnitude) : Single(magnitude * (1.0L / 0.51L));
    else if (units == "Pa")
        result = b15 ? Single(magnitude) : Single(magnitude * static_cast<long double>(2.491));
    else if (units == "ins Wg")
        result = b15 ? Single(Single(magnitude * (1.0L / 2.491L)) * 0.01L) : Single(magnitude * 0.01L);
    else
        result = b15 ? Single(Single(magnitude * static_cast<long double>(0.51)) * 0.01L)
                     : Single(magnitude * 0.01L);
    return negative ? -result : result;
}

std::string TSettingUnits::FormatFixed2(float value) {
    char buffer[64];
    // Adding 0 turns a negative zero into zero.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value) + 0.0,
                                      std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

double UnitsComparableValue(int32_t value, const std::string& units) {
    const std::string pair = IsPressure(units) ? "Pa" : "m/sec";
    return std::trunc(static_cast<double>(TSettingUnits::DecodeAs(value, pair)));
}

TSettingUnits::TSettingUnits(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingUnits::~TSettingUnits() = default;

const std::string& TSettingUnits::Units() const {
    return Owner()->CurrentUnits;
}

uint16_t TSettingUnits::Encode(float x) const {
    return EncodeAs(Units(), x);
}

float TSettingUnits::Decode(int32_t word) const {
    return DecodeAs(word, Units());
}

void TSettingUnits::LoadFromXml(const pugi::xml_node& element) {
    TSetting::LoadFromXml(element);
    MinValue = ReadRequiredInt(element, "min");
    MaxValue = ReadRequiredInt(element, "max");
    DefaultValue = ReadRequiredInt(element, "default");
}

std::string TSettingUnits::FormatAs(float value, const std::string& units) {
    if (IsWhole(units))
        return std::to_string(static_cast<int64_t>(std::trunc(value)));
    return FormatFixed2(value);
}

std::string TSettingUnits::DisplayText(bool withUnits) const {
    std::string text = FormatAs(Decode(Value), Units());
    if (withUnits)
        text += " " + Units();
    return text;
}

std::string TSettingUnits::ParseNumber(const std::string& text, float& number) const {
    if (IsWhole(Units())) {
        const std::optional<int32_t> value = TryStrToInt(text);
        if (!value)
            return "'" + text + "' is not a valid integer value";
        number = static_cast<float>(*value);
        return {};
    }
    // The locale's decimal separator or a point; never group separators.
    const QString qtext = QString::fromStdString(text).trimmed();
    bool ok = false;
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    double value = locale.toDouble(qtext, &ok);
    if (!ok) {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        value = c.toDouble(qtext, &ok);
    }
    if (!ok || !std::isfinite(value) || std::fabs(value) > 3.0e38)
        return "'" + text + "' is not a valid floating point value";
    number = static_cast<float>(value);
    return {};
}

bool TSettingUnits::FitsWord(float number) const {
    const std::string& units = Units();
    const long double magnitude = std::fabs(static_cast<long double>(number));
    if (units == "Pa")
        return magnitude < 16384.0L;
    if (units == "ins Wg")
        return Single(magnitude * 100.0L) < 16384.0f;
    if (number < 0)
        return false;
    if (units == "ft/min")
        return magnitude < 32768.0L;
    return Single(magnitude * 100.0L) < 32768.0f;
}

TParsed TSettingUnits::ParseText(const std::string& text) const {
    // The shown form carries the units after the number.
    std::string typed = text;
    const std::string suffix = " " + Units();
    if (typed.size() > suffix.size() &&
        typed.compare(typed.size() - suffix.size(), suffix.size(), suffix) == 0)
        typed.resize(typed.size() - suffix.size());
    TParsed parsed;
    float number = 0;
    parsed.Error = ParseNumber(typed, number);
    if (!parsed.Ok()) {
        // The message quotes what was typed.
        if (typed != text) {
            if (const std::string quoted = ParseNumber(text, number); !quoted.empty())
                parsed.Error = quoted;
        }
        return parsed;
    }
    const std::string tooLow =
        "The minimum value this setting can be is '" + FormatFixed2(Decode(MinValue)) + "'";
    const std::string tooHigh =
        "The maximum value this setting can be is '" + FormatFixed2(Decode(MaxValue)) + "'";
    // A negative velocity or a magnitude too large for its field would spill into the flag bits
    // and name another unit or sign; such a number lies beyond one of the limits.
    if (!FitsWord(number)) {
        parsed.Error = number < 0 ? tooLow : tooHigh;
        return parsed;
    }
    const uint16_t word = Encode(number);
    parsed.Value = word;
    const float lower = Decode(Encode(Decode(MinValue)));
    const float upper = Decode(Encode(Decode(MaxValue)));
    const float value = Decode(word);
    if (value < lower)
        parsed.Error = tooLow;
    else if (value > upper)
        parsed.Error = tooHigh;
    return parsed;
}

double TSettingUnits::ComparableValue(int32_t value) {
    return UnitsComparableValue(value, Units());
}

std::string TSettingUnits::FormatText() const {
    return DisplayText(true);
}

std::string TSettingUnits::LimitProblem(const TLoadedValue& loaded, const std::string& units) const {
    // As ValidateText checks a typed number: the word decoded in the units in force, against the
    // limits as they come back from those units.
    const float value = DecodeAs(loaded.Value, units);
    const float lower = DecodeAs(EncodeAs(units, DecodeAs(MinValue, units)), units);
    const float upper = DecodeAs(EncodeAs(units, DecodeAs(MaxValue, units)), units);
    if (value >= lower && value <= upper)
        return {};
    return FormatAs(value, units) + " " + units + " (limits " + FormatAs(DecodeAs(MinValue, units), units) +
           " to " + FormatAs(DecodeAs(MaxValue, units), units) + " " + units + ")";
}
