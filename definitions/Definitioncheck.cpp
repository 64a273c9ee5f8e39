#include "definitions/Definitioncheck.h"

#include "base/Convert.h"
#include "base/Errors.h"
#include "base/Regularfile.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_label.h"
#include "settings/Setting_name.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "settings/Settings.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr int64_t LastRegister = 65535;
// Coils and holding registers are separate spaces of 65536 each; input registers and discrete
// inputs are never written, so settings on them cannot spoil each other.
constexpr int32_t SpaceSize = 65536;
enum TSpace : int32_t { spCoil = 0, spHolding = 1 };

// Byte offsets to 1-based lines: the line starts are found once, then each lookup is a binary
// search.
class TLineMap {
public:
    explicit TLineMap(const std::string& path) {
        FStarts.push_back(0);
        // A file the loader refuses (no regular file, too large) has no lines to name.
        std::string text;
        try {
            text = ReadRegularFile(path);
        } catch (const TModelError&) {
            return;
        }
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n')
                FStarts.push_back(static_cast<std::ptrdiff_t>(i) + 1);
        }
    }

    int Line(std::ptrdiff_t offset) const {
        if (offset < 0)
            return 0;
        return static_cast<int>(std::upper_bound(FStarts.begin(), FStarts.end(), offset) - FStarts.begin());
    }

private:
    std::vector<std::ptrdiff_t> FStarts;
};

// Collects findings; one element of a settings element shared by several device types, or
// repeated by template replication, gives each finding once.
class TFindings {
public:
    explicit TFindings(const TLineMap& lines) : FLines(lines) {}

    int Line(const pugi::xml_node& node) const { return FLines.Line(node.offset_debug()); }
    std::string At(const pugi::xml_node& node) const { return " (line " + std::to_string(Line(node)) + ")"; }

    void Error(std::ptrdiff_t offset, const std::string& text) { Add(true, offset, text); }
    void Error(const pugi::xml_node& node, const std::string& text) { Add(true, node.offset_debug(), text); }
    void Warning(const pugi::xml_node& node, const std::string& text) {
        Add(false, node.offset_debug(), text);
    }

    TDefinitionReport Take() {
        std::stable_sort(
            FReport.Findings.begin(), FReport.Findings.end(),
            [](const TDefinitionFinding& a, const TDefinitionFinding& b) { return a.Line < b.Line; });
        return std::move(FReport);
    }

private:
    void Add(bool isError, std::ptrdiff_t offset, const std::string& text) {
        const int line = FLines.Line(offset);
        if (!FSeen.insert(std::to_string(line) + (isError ? ":e:" : ":w:") + text).second)
            return;
        FReport.Findings.push_back({line, isError, text});
        ++(isError ? FReport.Errors : FReport.Warnings);
    }

    const TLineMap& FLines;
    TDefinitionReport FReport;
    std::unordered_set<std::string> FSeen;
};

std::string Quoted(const std::string& name) {
    return "'" + name + "'";
}

std::string Hex16(int16_t mask) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(static_cast<uint16_t>(mask)));
    return text;
}

int64_t IntAttribute(const pugi::xml_node& element, const char* name) {
    return TryStrToInt(element.attribute(name).value()).value_or(0);
}

// ---- The file as written: device types and settings elements --------------------------------

void CheckDevices(const pugi::xml_node& root, TFindings& out) {
    std::unordered_map<int32_t, pugi::xml_node> firstById;
    std::set<int32_t> usedSettings;
    for (pugi::xml_node device : root.children("device")) {
        const std::optional<int32_t> id = TryStrToInt(device.attribute("device_id").value());
        if (const std::optional<int32_t> settings = TryStrToInt(device.attribute("settings_id").value()))
            usedSettings.insert(*settings);
        if (!id)
            continue;
        const auto [first, added] = firstById.emplace(*id, device);
        if (added)
            continue;
        const std::string firstName = Quoted(first->second.attribute("name").value());
        const std::string name = Quoted(device.attribute("name").value());
        out.Error(device, "device " + name + " has the device_id " + std::to_string(*id) + " of device " +
                              firstName + out.At(first->second));
        out.Error(first->second, "device " + firstName + " shares its device_id " + std::to_string(*id) +
                                     " with device " + name + out.At(device));
    }

    // A device type takes the first settings element of its settings_id.
    std::unordered_map<int32_t, pugi::xml_node> firstSettings;
    for (pugi::xml_node settings : root.children("settings")) {
        const std::optional<int32_t> id = TryStrToInt(settings.attribute("settings_id").value());
        if (!id)
            continue;
        const auto [first, added] = firstSettings.emplace(*id, settings);
        if (!added) {
            out.Warning(settings, "settings element " + std::to_string(*id) +
                                      " is used by no device: the one with the same settings_id" +
                                      out.At(first->second) + " is found first");
        } else if (usedSettings.count(*id) == 0) {
            out.Warning(settings, "settings element " + std::to_string(*id) + " is used by no device");
        }
    }
}

void CheckGroupElements(const pugi::xml_node& root, TFindings& out) {
    for (pugi::xml_node settings : root.children("settings")) {
        for (pugi::xml_node group : settings.children("group")) {
            std::unordered_map<std::string_view, pugi::xml_node> firstByName;
            for (pugi::xml_node setting : group.children("setting")) {
                const pugi::xml_attribute name = setting.attribute("name");
                if (name) {
                    const auto [first, added] = firstByName.emplace(name.value(), setting);
                    if (!added) {
                        out.Warning(setting, "setting name " + Quoted(name.value()) +
                                                 " is used twice in this group, first" +
                                                 out.At(first->second));
                    }
                }
                if (std::strcmp(setting.attribute("value_type").value(), "drop_down") != 0)
                    continue;
                int defaults = 0;
                for (pugi::xml_node choice : setting.children("ddvalue"))
                    defaults += std::strcmp(choice.attribute("default").value(), "true") == 0 ? 1 : 0;
                if (defaults > 1) {
                    out.Warning(setting, "drop-down " + Quoted(name.value()) + " has " +
                                             std::to_string(defaults) +
                                             " choices with default=\"true\"; the last one wins");
                }
            }
        }
    }
}

// ---- The built device types --------------------------------------------------------------------

// Calls visit(setting, element, first) for every setting built from a settings element, in build
// order; `first` is set for the first setting built from each element.
template <class Visit>
void WalkTree(const TSettings& tree, const pugi::xml_node& settingsElement, Visit&& visit) {
    size_t g = 0;
    for (pugi::xml_node groupElement : settingsElement.children("group")) {
        std::vector<pugi::xml_node> elements;
        for (pugi::xml_node setting : groupElement.children("setting"))
            elements.push_back(setting);
        // A template becomes 24 groups; each copy in them is a heading and then the settings.
        const bool isTemplate = std::strcmp(groupElement.attribute("name").value(), "Group") == 0;
        const size_t groups = isTemplate ? 24 : 1;
        const size_t block = isTemplate ? elements.size() + 1 : elements.size();
        for (size_t k = 0; k < groups && g < tree.Groups.size(); ++k, ++g) {
            const TGroup& group = *tree.Groups[g];
            for (size_t p = 0; p < group.Settings.size(); ++p) {
                size_t index = p;
                if (isTemplate) {
                    index = p % block;
                    if (index == 0)
                        continue;
                    --index;
                }
                if (index < elements.size())
                    visit(*group.Settings[p], elements[index], k == 0 && p < block);
            }
        }
    }
}

// How a setting shares its register with others.
enum TRole : uint8_t {
    roleOther,
    roleCustomBox, // a check box with custom values: the register belongs to another setting
    roleOwner,     // a drop-down or integer setting, which may announce a custom check box's register
    rolePassive    // writes nothing: the units selector, a label that is only a caption
};

// A built setting that reaches the register image.
struct TUser {
    const TSetting* Setting;
    pugi::xml_node Element;
    TRole Role;
    TSpace Space;
    int64_t First; // its first register, as the file counts them
    int32_t Count; // registers it spans
};

// One register of a user, with the bits the user writes there.
struct TSlot {
    uint32_t User;
    int32_t Key; // space × 65536 + register
    uint16_t Bits;
};

struct TPairRecord {
    uint32_t First = 0;
    uint32_t Second = 0;
    int32_t Key = 0;
    uint16_t Bits = 0;
    int Count = 0;
};

struct TRangeRecord {
    uint32_t User = 0;
    int64_t Register = 0;
    int Count = 0;
};

bool Conflicts(TRole a, TRole b) {
    // The shared-register idiom: a custom check box and the drop-down or integer that owns it.
    return !((a == roleCustomBox && b == roleOwner) || (a == roleOwner && b == roleCustomBox));
}

std::string SpaceName(TSpace space) {
    return space == spCoil ? "coil" : "holding register";
}

bool UsesMask(const TSetting& s) {
    if (s.RegisterType != rtHoldingRegister || s.BitMask == 0)
        return false;
    if (const auto* box = dynamic_cast<const TSettingCheckBox*>(&s))
        return !box->HasCustomValues;
    if (const auto* integer = dynamic_cast<const TSettingInt*>(&s))
        return integer->NumOfRegisters == 1;
    return dynamic_cast<const TSettingName*>(&s) == nullptr &&
           dynamic_cast<const TSettingUint32*>(&s) == nullptr;
}

int MaskShift(int16_t mask) {
    return std::min(std::countr_zero(static_cast<uint16_t>(mask)), 8);
}

// What a masked holding register gives back after `value` went in, by the kind's own write and
// read conversions: integer settings convert in 32 bits, the others in 16.
int32_t MaskedRoundTrip(const TSetting& s, int32_t value) {
    const uint16_t mask = static_cast<uint16_t>(s.BitMask);
    const int shift = MaskShift(s.BitMask);
    const int32_t scale = s.ScalingFactor == 0 ? 1 : s.ScalingFactor;
    const uint16_t word = static_cast<uint16_t>(static_cast<uint32_t>(value) * static_cast<uint32_t>(scale) +
                                                static_cast<uint32_t>(s.ValueOffset));
    const uint16_t reg = static_cast<uint16_t>((static_cast<uint32_t>(word) << shift) & mask);
    const int16_t field = static_cast<int16_t>(static_cast<int16_t>(reg) >> shift);
    if (dynamic_cast<const TSettingInt*>(&s) != nullptr)
        return static_cast<int32_t>((static_cast<int64_t>(field) - s.ValueOffset) / scale);
    uint16_t raw = static_cast<uint16_t>(static_cast<uint16_t>(field) - static_cast<uint16_t>(s.ValueOffset));
    raw = static_cast<uint16_t>(static_cast<int32_t>(static_cast<int16_t>(raw)) / scale);
    return static_cast<int16_t>(raw);
}

// The values a mask's field holds, for messages.
std::string MaskRange(int16_t mask) {
    const uint16_t bits = static_cast<uint16_t>(mask);
    const int shift = MaskShift(mask);
    if ((bits & 0x8000u) != 0) {
        const int width = 16 - shift;
        return std::to_string(-(1 << (width - 1))) + " to " + std::to_string((1 << (width - 1)) - 1);
    }
    return "0 to " + std::to_string(bits >> shift);
}

class TTreeCheck {
public:
    TTreeCheck(const TSettings& tree, TFindings& out) : FTree(tree), FOut(out) {
        for (const auto& group : tree.Groups) {
            for (const auto& entry : group->Settings)
                FNames.insert(entry->Name);
        }
        FUnits = UnitsAfterDefaults();
    }

    void Run(const pugi::xml_node& settingsElement) {
        std::map<int32_t, std::pair<int, std::pair<const TSetting*, pugi::xml_node>>> exclusion;
        WalkTree(FTree, settingsElement, [&](const TSetting& s, const pugi::xml_node& element, bool first) {
            if (s.ExclusionGroup != -1) {
                auto& members = exclusion[s.ExclusionGroup];
                if (members.first++ == 0)
                    members.second = {&s, element};
            }
            if (first)
                CheckElement(s, element);
            if (!s.InTemplate)
                AddUser(s, element);
        });
        for (const auto& [group, members] : exclusion) {
            if (members.first == 1) {
                FOut.Warning(members.second.second, "exclusion group " + std::to_string(group) +
                                                        " has only one member, setting " +
                                                        Quoted(members.second.first->Name));
            }
        }
        ReportRanges();
        CheckRegisters();
    }

private:
    // The units in force once defaults are restored: the units selector's default choice.
    std::string UnitsAfterDefaults() const {
        std::string units = FTree.CurrentUnits;
        for (const auto& group : FTree.Groups) {
            for (const auto& entry : group->Settings) {
                const auto* selector = dynamic_cast<const TSettingDropDown*>(entry.get());
                if (selector == nullptr || !selector->IsUnitsSelector)
                    continue;
                const int position = selector->IndexOfValue(selector->DefaultValue);
                if (position >= 0)
                    units = selector->Choices[static_cast<size_t>(position)].Name;
            }
        }
        return units;
    }

    std::string Units(int32_t word) const {
        const std::string number = TSettingUnits::FormatFixed2(TSettingUnits::DecodeAs(word, FUnits));
        return FUnits.empty() ? number : number + " " + FUnits;
    }

    void CheckElement(const TSetting& s, const pugi::xml_node& element) {
        const std::string name = "setting " + Quoted(s.Name);
        const std::pair<const char*, const std::string*> references[] = {{"minsetting", &s.MinSetting},
                                                                         {"maxsetting", &s.MaxSetting}};
        for (const auto& [attribute, target] : references) {
            if (!target->empty() && FNames.count(*target) == 0)
                FOut.Error(element, name + ": " + attribute + " " + Quoted(*target) + " names no setting");
        }

        if (const auto* integer = dynamic_cast<const TSettingInt*>(&s)) {
            if (integer->NumOfRegisters != 1 && integer->NumOfRegisters != 2) {
                FOut.Error(element, name + ": an integer setting holds 1 or 2 registers, not " +
                                        std::to_string(integer->NumOfRegisters));
            }
            // A default shown as "-" is the file's way of saying "off".
            const bool disabled = integer->HasDisabledValue && s.DefaultValue == integer->DisabledValue;
            CheckLimits(element, name, s.MinValue, s.MaxValue,
                        disabled ? std::optional<int32_t>() : std::optional<int32_t>(s.DefaultValue),
                        [](int64_t v) { return std::to_string(v); });
        } else if (const auto* wide = dynamic_cast<const TSettingUint32*>(&s)) {
            CheckLimits(element, name, wide->MinValue32, wide->MaxValue32, wide->DefaultValue32,
                        [](int64_t v) { return std::to_string(v); });
        } else if (dynamic_cast<const TSettingUnits*>(&s) != nullptr) {
            // Compared as the editor shows them: decoded in the units in force.
            const float low = TSettingUnits::DecodeAs(s.MinValue, FUnits);
            const float high = TSettingUnits::DecodeAs(s.MaxValue, FUnits);
            const float value = TSettingUnits::DecodeAs(s.DefaultValue, FUnits);
            if (low > high)
                FOut.Warning(element, name + ": min " + Units(s.MinValue) + " is greater than max " +
                                          Units(s.MaxValue));
            if (value < low || value > high) {
                FOut.Error(element, name + ": default " + Units(s.DefaultValue) + " is outside its limits " +
                                        TSettingUnits::FormatFixed2(low) + " to " + Units(s.MaxValue));
            }
        } else if (const auto* dropDown = dynamic_cast<const TSettingDropDown*>(&s)) {
            if (dropDown->IndexOfValue(s.DefaultValue) < 0) {
                FOut.Error(element, "drop-down " + Quoted(s.Name) + ": default value " +
                                        std::to_string(s.DefaultValue) + " is not one of its choices");
            }
        }
        CheckMask(s, element, name);
    }

    template <class Show>
    void CheckLimits(const pugi::xml_node& element, const std::string& name, int32_t low, int32_t high,
                     std::optional<int32_t> value, Show show) {
        if (low > high)
            FOut.Warning(element, name + ": min " + show(low) + " is greater than max " + show(high));
        if (value && (*value < low || *value > high)) {
            FOut.Error(element, name + ": default " + show(*value) + " is outside its limits " + show(low) +
                                    " to " + show(high));
        }
    }

    void CheckMask(const TSetting& s, const pugi::xml_node& element, const std::string& name) {
        if (!UsesMask(s))
            return;
        const std::string mask = "bit mask " + Hex16(s.BitMask);
        if (std::countr_zero(static_cast<uint16_t>(s.BitMask)) > 8) {
            FOut.Error(element, name + ": " + mask +
                                    " starts above bit 8, so its values are stored in the wrong bits");
            return;
        }
        const auto check = [&](int32_t value, const std::string& what) {
            const int32_t back = MaskedRoundTrip(s, value);
            const bool units = dynamic_cast<const TSettingUnits*>(&s) != nullptr;
            if (units ? static_cast<uint16_t>(back) == static_cast<uint16_t>(value) : back == value)
                return true;
            std::string stored;
            if (s.ScalingFactor != 1 || s.ValueOffset != 0) {
                stored = " (stored as " +
                         std::to_string(static_cast<int64_t>(value) *
                                            (s.ScalingFactor == 0 ? 1 : s.ScalingFactor) +
                                        s.ValueOffset) +
                         ")";
            }
            FOut.Error(element, name + ": " + mask + " holds " + MaskRange(s.BitMask) + ", so " + what + " " +
                                    std::to_string(value) + stored + " does not fit");
            return false;
        };
        if (const auto* dropDown = dynamic_cast<const TSettingDropDown*>(&s)) {
            for (const auto& choice : dropDown->Choices) {
                if (!check(choice.Value, "the value of choice " + Quoted(choice.Name)))
                    return;
            }
        } else if (dynamic_cast<const TSettingInt*>(&s) != nullptr ||
                   dynamic_cast<const TSettingUnits*>(&s) != nullptr) {
            if (check(s.MaxValue, "max"))
                check(s.MinValue, "min");
        }
    }

    void AddUser(const TSetting& s, const pugi::xml_node& element) {
        if (s.RegisterType == rtNone)
            return;
        TUser user{&s, element, roleOther, spHolding, 0, 1};
        uint16_t bits = UsesMask(s) ? static_cast<uint16_t>(s.BitMask) : 0xFFFF;
        const auto* box = dynamic_cast<const TSettingCheckBox*>(&s);
        const auto* label = dynamic_cast<const TSettingLabel*>(&s);
        if (s.IsUnitsSelector || (label != nullptr && label->LabelOnly))
            user.Role = rolePassive;
        else if (box != nullptr && box->HasCustomValues)
            user.Role = roleCustomBox;
        else if (dynamic_cast<const TSettingDropDown*>(&s) != nullptr ||
                 dynamic_cast<const TSettingInt*>(&s) != nullptr)
            user.Role = roleOwner;

        // Text and 32-bit settings always live in holding registers, whatever their type says.
        if (dynamic_cast<const TSettingName*>(&s) != nullptr) {
            user.Count = s.NumOfRegisters;
        } else if (dynamic_cast<const TSettingUint32*>(&s) != nullptr) {
            user.Count = 2;
        } else if (s.RegisterType == rtCoil) {
            user.Space = spCoil;
            bits = 1;
        } else if (s.RegisterType != rtHoldingRegister) {
            return;
        } else if (dynamic_cast<const TSettingInt*>(&s) != nullptr) {
            if (s.NumOfRegisters != 1 && s.NumOfRegisters != 2)
                return; // reported with the element
            user.Count = s.NumOfRegisters;
        }
        // Counted as the file counts them, in 64 bits, so a copy far past the end is seen as such.
        user.First = IntAttribute(element, "register") + IntAttribute(element, "offset") * s.CopyIndex;

        const auto index = static_cast<uint32_t>(FUsers.size());
        FUsers.push_back(user);
        for (int32_t i = 0; i < user.Count; ++i) {
            const int64_t reg = user.First + i;
            if (reg < 0 || reg > LastRegister) {
                TRangeRecord& record = FRanges[element.offset_debug()];
                if (record.Count++ == 0) {
                    record.User = index;
                    record.Register = reg;
                }
                break;
            }
            FSlots.push_back({index, static_cast<int32_t>(user.Space * SpaceSize + reg), bits});
        }
    }

    void ReportRanges() {
        for (const auto& [offset, record] : FRanges) {
            const TUser& user = FUsers[record.User];
            const TSetting& s = *user.Setting;
            std::string where = "setting " + Quoted(s.Name);
            if (s.Group->TenGroups) {
                where += " in group " + std::to_string(s.CopyIndex % 50 + 1) + " of ZA9 " +
                         std::to_string(s.CopyIndex / 50 + 1);
            }
            std::string text = where + " uses " + SpaceName(user.Space) + " " +
                               std::to_string(record.Register) +
                               (record.Register < 0 ? ", below 0" : ", beyond 65535");
            if (record.Count > 1)
                text += " (" + std::to_string(record.Count) + " group copies in all)";
            FOut.Error(user.Element, text);
        }
    }

    // Buckets the registers (a counting sort keeps build order within a register), then compares
    // each register's users against the first earlier user of each role on each bit, so the work
    // grows with the number of registers written, not with pairs of settings.
    void CheckRegisters() {
        std::vector<uint32_t> start(2 * SpaceSize + 1, 0);
        for (const TSlot& slot : FSlots)
            ++start[static_cast<size_t>(slot.Key) + 1];
        for (size_t i = 1; i < start.size(); ++i)
            start[i] += start[i - 1];
        std::vector<uint32_t> order(FSlots.size());
        {
            std::vector<uint32_t> next(start.begin(), start.end() - 1);
            for (uint32_t i = 0; i < FSlots.size(); ++i)
                order[next[static_cast<size_t>(FSlots[i].Key)]++] = i;
        }

        std::map<std::pair<std::ptrdiff_t, std::ptrdiff_t>, TPairRecord> pairs;
        for (size_t key = 0; key + 1 < start.size(); ++key) {
            const uint32_t begin = start[key];
            const uint32_t end = start[key + 1];
            if (begin == end)
                continue;
            std::array<std::array<int64_t, 3>, 16> firstBy;
            for (auto& bit : firstBy)
                bit.fill(-1);
            bool announced = false;
            for (uint32_t at = begin; at < end; ++at) {
                const TSlot& slot = FSlots[order[at]];
                const TUser& user = FUsers[slot.User];
                if (user.Role != roleCustomBox)
                    announced = true;
                if (user.Role == rolePassive)
                    continue;
                int64_t earliest = -1;
                for (int bit = 0; bit < 16; ++bit) {
                    if ((slot.Bits & (1u << bit)) == 0)
                        continue;
                    for (int role = 0; role < 3; ++role) {
                        const int64_t other = firstBy[static_cast<size_t>(bit)][static_cast<size_t>(role)];
                        if (other >= 0 && Conflicts(user.Role, static_cast<TRole>(role)) &&
                            (earliest < 0 || other < earliest))
                            earliest = other;
                    }
                    int64_t& mine = firstBy[static_cast<size_t>(bit)][user.Role];
                    if (mine < 0)
                        mine = at;
                }
                if (earliest < 0)
                    continue;
                const TSlot& earlier = FSlots[order[static_cast<size_t>(earliest)]];
                TPairRecord& record =
                    pairs[{FUsers[earlier.User].Element.offset_debug(), user.Element.offset_debug()}];
                if (record.Count++ == 0)
                    record = {earlier.User, slot.User, slot.Key,
                              static_cast<uint16_t>(earlier.Bits & slot.Bits), 1};
            }
            CheckCustomBoxes(begin, end, order, announced);
        }
        for (const auto& [key, record] : pairs)
            ReportPair(record);
    }

    void CheckCustomBoxes(uint32_t begin, uint32_t end, const std::vector<uint32_t>& order, bool announced) {
        const TSettingDropDown* owner = nullptr;
        pugi::xml_node ownerElement;
        for (uint32_t at = begin; at < end && owner == nullptr; ++at) {
            const TUser& user = FUsers[FSlots[order[at]].User];
            if (user.Role == roleOwner) {
                owner = dynamic_cast<const TSettingDropDown*>(user.Setting);
                ownerElement = user.Element;
            }
        }
        for (uint32_t at = begin; at < end; ++at) {
            const TSlot& slot = FSlots[order[at]];
            const TUser& user = FUsers[slot.User];
            if (user.Role != roleCustomBox)
                continue;
            const auto& box = static_cast<const TSettingCheckBox&>(*user.Setting);
            const std::string name = "check box " + Quoted(box.Name);
            const std::string where = SpaceName(user.Space) + " " + std::to_string(slot.Key % SpaceSize);
            if (!announced) {
                FOut.Error(user.Element,
                           name + " has custom values, but no other setting announces its " + where);
                continue;
            }
            if (owner == nullptr)
                continue;
            std::string missing;
            for (const int32_t value : {box.UncheckedValue, box.CheckedValue}) {
                if (owner->IndexOfValue(value) < 0)
                    missing += (missing.empty() ? "" : " and ") + std::to_string(value);
            }
            if (!missing.empty()) {
                FOut.Warning(user.Element, name + ": custom value " + missing +
                                               " is not among the choices of drop-down " +
                                               Quoted(owner->Name) + FOut.At(ownerElement));
            }
        }
    }

    std::string Registers(const TUser& user) const {
        return "holding registers " + std::to_string(user.First) + " to " +
               std::to_string(user.First + user.Count - 1);
    }

    std::string Against(const TUser& self, const TUser& other) const {
        const bool selfText = dynamic_cast<const TSettingName*>(self.Setting) != nullptr;
        const bool otherText = dynamic_cast<const TSettingName*>(other.Setting) != nullptr;
        if (selfText) {
            return "text setting " + Quoted(self.Setting->Name) + " (" + Registers(self) + ") runs into " +
                   (otherText ? "text setting " : "setting ") + Quoted(other.Setting->Name) +
                   FOut.At(other.Element);
        }
        return "setting " + Quoted(self.Setting->Name) + " overlaps " +
               (otherText ? "text setting " : "setting ") + Quoted(other.Setting->Name) +
               FOut.At(other.Element);
    }

    void ReportPair(const TPairRecord& record) {
        const TUser& first = FUsers[record.First];
        const TUser& second = FUsers[record.Second];
        const auto space = static_cast<TSpace>(record.Key / SpaceSize);
        std::string where = " on " + SpaceName(space) + " " + std::to_string(record.Key % SpaceSize);
        if (space == spHolding && record.Bits != 0xFFFF)
            where += " (bits " + Hex16(static_cast<int16_t>(record.Bits)) + ")";
        if (record.Count > 1)
            where += " (" + std::to_string(record.Count) + " overlaps in all)";
        if (first.Element == second.Element) {
            FOut.Error(first.Element, "group copies of setting " + Quoted(first.Setting->Name) +
                                          " overlap each other" + where);
            return;
        }
        FOut.Error(second.Element, Against(second, first) + where);
        FOut.Error(first.Element, Against(first, second) + where);
    }

    const TSettings& FTree;
    TFindings& FOut;
    std::unordered_set<std::string> FNames;
    std::string FUnits;
    std::vector<TUser> FUsers;
    std::vector<TSlot> FSlots;
    std::map<std::ptrdiff_t, TRangeRecord> FRanges;
};

pugi::xml_node SettingsElementOf(const pugi::xml_node& root, int32_t settingsId) {
    for (pugi::xml_node settings : root.children("settings")) {
        if (TryStrToInt(settings.attribute("settings_id").value()) == settingsId)
            return settings;
    }
    return {};
}

} // namespace

TDefinitionReport CheckDefinitionFile(const std::string& path) {
    const TLineMap lines(path);
    TFindings out(lines);
    TRegisterDataStore store;
    TDevices devices(store);
    bool loaded = false;
    try {
        loaded = devices.LoadFromFile(path);
    } catch (const TModelError& error) {
        out.Error(error.SourceOffset, error.what());
    } catch (const std::exception& error) {
        out.Error(-1, error.what());
    }
    // A file that did not parse, or has no device types, has nothing more worth saying.
    if (!loaded && devices.Devices.empty())
        return out.Take();

    const pugi::xml_node root = devices.Document->document_element();
    CheckDevices(root, out);
    CheckGroupElements(root, out);
    if (!loaded)
        return out.Take();

    // Device types built from one settings element are alike; each element is checked once.
    std::set<std::ptrdiff_t> checked;
    for (const auto& device : devices.Devices) {
        const pugi::xml_node settings = SettingsElementOf(root, device->SettingsId);
        if (!settings || !checked.insert(settings.offset_debug()).second)
            continue;
        TTreeCheck(*device->Settings, out).Run(settings);
    }
    return out.Take();
}
