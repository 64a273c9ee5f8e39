#include "settings/Settingsload.h"

#include "base/Convert.h"
#include "base/Errors.h"
#include "settings/Group.h"
#include "settings/Setting_dropdown.h"
#include "settings/Settings.h"

#include <cstring>
#include <map>
#include <optional>

namespace {

struct TElement {
    pugi::xml_node Node;
    std::optional<int32_t> Id; // none when the ID does not convert
    std::string Name;
};

std::vector<TElement> Children(const pugi::xml_node& parent, const char* name) {
    std::vector<TElement> children;
    for (pugi::xml_node child : parent.children()) {
        if (std::strcmp(child.name(), name) == 0)
            children.push_back(
                {child, TryStrToInt(child.attribute("ID").value()), child.attribute("name").value()});
    }
    return children;
}

// Whether an element of that name has a number: the file then numbers it otherwise. One without
// a number is a broken file, not one of other definitions.
bool NumberedElsewhere(const std::vector<TElement>& elements, const std::string& name) {
    for (const TElement& element : elements) {
        if (element.Name == name && element.Id)
            return true;
    }
    return false;
}

// Section headings hold no value; in a file they are the settings saved with register -1.
bool IsHeading(const TSetting& entry) {
    return entry.RegisterType == rtNone;
}
bool IsHeading(const TElement& element) {
    return std::strcmp(element.Node.attribute("register").value(), "-1") == 0;
}

std::string SettingConflict(const TGroup& group, const pugi::xml_node& groupElement) {
    const std::vector<TElement> settings = Children(groupElement, "setting");
    for (const auto& entry : group.Settings) {
        if (IsHeading(*entry))
            continue;
        const TElement* found = nullptr;
        for (const TElement& element : settings) {
            if (element.Id == entry->Id) {
                found = &element;
                break;
            }
        }
        if (found == nullptr) {
            if (NumberedElsewhere(settings, entry->Name))
                return "Could not find a value for setting '" + entry->Name + "' in the XML document";
        } else if (found->Name != entry->Name) {
            return "Setting '" + entry->Name + "' has the ID of setting '" + found->Name +
                   "' in the XML document";
        }
    }
    return {};
}

// Names that repeat (the copies of a template) are told apart by their place: "(2 of 4)".
std::string Named(const std::string& kind, const std::string& name, size_t index, size_t count) {
    std::string text = kind + " '" + name + "'";
    if (count > 1)
        text += " (" + std::to_string(index + 1) + " of " + std::to_string(count) + ")";
    return text;
}

std::string Plural(size_t count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::map<std::string, std::vector<size_t>> PositionsByName(const std::vector<TElement>& elements) {
    std::map<std::string, std::vector<size_t>> positions;
    for (size_t i = 0; i < elements.size(); ++i)
        positions[elements[i].Name].push_back(i);
    return positions;
}

struct TNameMatcher {
    TNameMatch Match;
    std::vector<std::string> Lines;
    size_t Skipped = 0;
    size_t Kept = 0;

    void Settings(const TGroup& group, const std::string& groupText, const pugi::xml_node& groupElement) {
        const std::vector<TElement> settings = Children(groupElement, "setting");
        const auto positions = PositionsByName(settings);
        std::map<std::string, size_t> total;
        for (const auto& entry : group.Settings)
            ++total[entry->Name];
        std::map<std::string, size_t> seen;
        std::vector<bool> used(settings.size(), false);
        for (const auto& entry : group.Settings) {
            const size_t k = seen[entry->Name]++;
            const auto found = positions.find(entry->Name);
            if (found != positions.end() && k < found->second.size()) {
                used[found->second[k]] = true;
                Match.Pairs.push_back({entry.get(), settings[found->second[k]].Node});
            } else if (!IsHeading(*entry)) {
                ++Kept;
                Lines.push_back("Kept as it is: " + Named("setting", entry->Name, k, total[entry->Name]) +
                                " of " + groupText + " (not in the file)");
            }
        }
        for (size_t i = 0; i < settings.size(); ++i) {
            if (used[i] || IsHeading(settings[i]))
                continue;
            ++Skipped;
            Lines.push_back("Skipped: setting '" + settings[i].Name + "' of " + groupText +
                            " in the file (no setting of that name)");
        }
    }
};

} // namespace

std::string NumberNameConflict(const TSettings& tree, const pugi::xml_node& deviceElement) {
    const std::vector<TElement> groups = Children(deviceElement, "group");
    for (const auto& group : tree.Groups) {
        bool found = false;
        for (const TElement& element : groups) {
            if (element.Id != group->Id)
                continue;
            found = true;
            if (element.Name != group->Name) {
                return "Settings group '" + group->Name + "' has the ID of group '" + element.Name +
                       "' in the XML document";
            }
            const std::string conflict = SettingConflict(*group, element.Node);
            if (!conflict.empty())
                return conflict;
        }
        if (!found && NumberedElsewhere(groups, group->Name))
            return "Could not find settings group '" + group->Name + "' in the XML document";
    }
    return {};
}

TNameMatch MatchByName(const TSettings& tree, const pugi::xml_node& deviceElement) {
    TNameMatcher matcher;
    const std::vector<TElement> groups = Children(deviceElement, "group");
    const auto positions = PositionsByName(groups);
    std::map<std::string, size_t> total;
    for (const auto& group : tree.Groups)
        ++total[group->Name];
    std::map<std::string, size_t> seen;
    std::vector<bool> used(groups.size(), false);
    for (const auto& group : tree.Groups) {
        const size_t k = seen[group->Name]++;
        const std::string groupText = Named("group", group->Name, k, total[group->Name]);
        const auto found = positions.find(group->Name);
        if (found != positions.end() && k < found->second.size()) {
            used[found->second[k]] = true;
            matcher.Settings(*group, groupText, groups[found->second[k]].Node);
            continue;
        }
        size_t valued = 0;
        for (const auto& entry : group->Settings)
            valued += IsHeading(*entry) ? 0 : 1;
        if (valued == 0)
            continue;
        matcher.Kept += valued;
        matcher.Lines.push_back("Kept as they are: the settings of " + groupText + " (not in the file)");
    }
    for (size_t i = 0; i < groups.size(); ++i) {
        if (used[i])
            continue;
        for (const TElement& setting : Children(groups[i].Node, "setting"))
            matcher.Skipped += IsHeading(setting) ? 0 : 1;
        matcher.Lines.push_back("Skipped: group '" + groups[i].Name +
                                "' of the file (no group of that name)");
    }

    TNameMatch& match = matcher.Match;
    match.Notes.push_back(
        "By group and setting names: " +
        Plural(matcher.Skipped, "setting of the file matches", "settings of the file match") +
        " nothing and " + (matcher.Skipped == 1 ? "is" : "are") + " skipped; " +
        Plural(matcher.Kept, "setting is", "settings are") + " not in the file and " +
        (matcher.Kept == 1 ? "keeps its value." : "keep their values."));
    match.Notes.insert(match.Notes.end(), matcher.Lines.begin(), matcher.Lines.end());
    return match;
}

namespace {

std::string Describe(const TSetting& entry) {
    std::string text = "'" + entry.Name + "' (" + entry.Group->Name;
    if (entry.RegisterType == rtCoil)
        text += ", coil " + std::to_string(entry.FileRegister());
    else if (entry.RegisterType != rtNone)
        text += ", register " + std::to_string(entry.FileRegister());
    return text + ")";
}

// The units selector's loaded choice, if the file has one, is the units the values are shown in.
std::string UnitsAfterLoad(const std::vector<TPendingValue>& pending, const std::string& currentUnits) {
    std::string units = currentUnits;
    for (const TPendingValue& value : pending) {
        const auto* selector = dynamic_cast<const TSettingDropDown*>(value.Entry);
        if (selector == nullptr || !selector->IsUnitsSelector)
            continue;
        const int position = selector->IndexOfValue(value.Loaded.Value);
        if (position >= 0)
            units = selector->Choices[static_cast<size_t>(position)].Name;
    }
    return units;
}

} // namespace

std::vector<std::string> CheckLoadedValues(const std::vector<TPendingValue>& pending,
                                           const std::string& currentUnits) {
    for (const TPendingValue& value : pending) {
        if (!value.Entry->FieldHolds(value.Loaded)) {
            throw TModelError("The value " + std::to_string(value.Loaded.Value) +
                              " in the XML document does not fit the register of setting " +
                              Describe(*value.Entry));
        }
    }
    const std::string units = UnitsAfterLoad(pending, currentUnits);
    std::vector<std::string> outside;
    for (const TPendingValue& value : pending) {
        const std::string problem = value.Entry->LimitProblem(value.Loaded, units);
        if (!problem.empty())
            outside.push_back(Describe(*value.Entry) + ": " + problem);
    }
    return outside;
}
