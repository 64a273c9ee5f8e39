#include "settings/Setting_label.h"

#include "base/Convert.h"
#include "base/Csv.h"
#include "base/Xmlutil.h"
#include "settings/Setting_units.h"
#include "settings/Settings.h"

TSettingLabel::TSettingLabel(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingLabel::~TSettingLabel() = default;

float TSettingLabel::DecodeAs(int32_t word, const std::string& units) {
    return TSettingUnits::DecodeAs(word, units);
}

void TSettingLabel::LoadFromXml(const pugi::xml_node& element) {
    TSetting::LoadFromXml(element);
    DefaultValue = ReadRequiredInt(element, "default");
    if (const pugi::xml_attribute a = element.attribute("label_only"))
        LabelOnly = StrToBool(a.value());
}

std::string TSettingLabel::DisplayText(bool withUnits) const {
    // The number is shown as read, not converted.
    return std::to_string(Value) + (withUnits ? " " + Owner()->CurrentUnits : std::string());
}

void TSettingLabel::MarkForRead() {
    if (LabelOnly)
        return;
    TSetting::MarkForRead();
}

void TSettingLabel::WriteToStore() {
    if (LabelOnly)
        return;
    TSetting::WriteToStore();
}

std::string TSettingLabel::FormatText() const {
    return DisplayText(true);
}

double TSettingLabel::ComparableValue(int32_t value) {
    return UnitsComparableValue(value, Owner()->CurrentUnits);
}

bool TSettingLabel::FieldHolds(const TLoadedValue& loaded) const {
    // A label only shown is never written.
    return LabelOnly || TSetting::FieldHolds(loaded);
}
