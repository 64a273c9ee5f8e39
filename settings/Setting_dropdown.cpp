#include "settings/Setting_dropdown.h"

#include "base/Csv.h"
#include "base/Xmlutil.h"
#include "settings/Group.h"
#include "settings/Settings.h"

#include <cstring>

TSettingDropDown::TSettingDropDown(TGroup* group, int32_t copyIndex) : TSetting(group, copyIndex) {}

TSettingDropDown::~TSettingDropDown() = default;

void TSettingDropDown::LoadFromXml(const pugi::xml_node& element) {
    TSetting::LoadFromXml(element);
    Choices.clear();
    for (pugi::xml_node child : element.children()) {
        if (child.type() == pugi::node_element && std::strcmp(child.name(), "ddvalue") == 0)
            AddChoice(child);
    }
}

void TSettingDropDown::AddChoice(const pugi::xml_node& element) {
    _DDType choice;
    choice.Name = XmlGetAttribute(element, "name");
    choice.Value = ReadRequiredInt(element, "value");
    if (const pugi::xml_attribute a = element.attribute("default"); a && std::strcmp(a.value(), "true") == 0)
        DefaultValue = choice.Value;
    Choices.push_back(choice);
    if (choice.Value == 0 && IsUnitsSelector)
        Owner()->SetCurrentUnits(choice.Name);
}

int TSettingDropDown::IndexOfValue(int32_t value) const {
    for (size_t i = 0; i < Choices.size(); ++i) {
        if (Choices[i].Value == value)
            return static_cast<int>(i);
    }
    return -1;
}

void TSettingDropDown::ChooseAt(int position) {
    if (position < 0 || static_cast<size_t>(position) >= Choices.size())
        return;
    const int32_t value = Choices[static_cast<size_t>(position)].Value;
    if (!Owner()->CheckExclusion(this, value, true)) {
        UpdateDisplay(true);
        return;
    }
    Value = value;
    if (IsUnitsSelector)
        Owner()->SetCurrentUnits(Choices[static_cast<size_t>(position)].Name);
    else
        WriteToStore();
}

void TSettingDropDown::FollowUnits() {
    if (!IsUnitsSelector)
        return;
    const int position = IndexOfValue(Value);
    if (position >= 0)
        Owner()->SetCurrentUnits(Choices[static_cast<size_t>(position)].Name);
}

void TSettingDropDown::RestoreDefault() {
    TSetting::RestoreDefault();
    FollowUnits();
}

void TSettingDropDown::ApplyLoadedValue(const TLoadedValue& loaded) {
    TSetting::ApplyLoadedValue(loaded);
    FollowUnits();
}

void TSettingDropDown::ReportProgress() {
    const bool refreshes = DisplayPending;
    TSetting::ReportProgress();
    if (refreshes)
        FollowUnits();
}

void TSettingDropDown::MarkForRead() {
    if (!IsUnitsSelector)
        TSetting::MarkForRead();
}

void TSettingDropDown::MarkForUnitRead() {
    TSetting::MarkForRead();
}

std::string TSettingDropDown::FormatText() const {
    const int position = IndexOfValue(Value);
    return position >= 0 ? Choices[static_cast<size_t>(position)].Name : std::to_string(Value);
}

TParsed TSettingDropDown::ParseText(const std::string& text) const {
    TParsed parsed;
    for (const auto& choice : Choices) {
        if (choice.Name == text) {
            parsed.Value = choice.Value;
            return parsed;
        }
    }
    parsed.Error = "'" + text + "' is not one of the choices of setting '" + Name + "'";
    return parsed;
}

std::string TSettingDropDown::LimitProblem(const TLoadedValue& loaded, const std::string& units) const {
    (void)units;
    if (IndexOfValue(loaded.Value) >= 0)
        return {};
    return std::to_string(loaded.Value) + " (not one of its choices)";
}
