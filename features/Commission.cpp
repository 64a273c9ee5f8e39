#include "features/Commission.h"

#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settingsload.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string_view>

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Texts of a list in one field: each escaped, "\\r" (which no escaped text holds) between them.
std::string EscapeList(const std::vector<std::string>& texts) {
    std::string out;
    for (size_t i = 0; i < texts.size(); ++i)
        out += (i > 0 ? "\\r" : "") + Escape(texts[i]);
    return out;
}

std::vector<std::string> UnescapeList(const std::string& text) {
    std::vector<std::string> texts;
    if (text.empty())
        return texts;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size())
            continue;
        if (text[i + 1] == 'r') {
            texts.push_back(Unescape(text.substr(start, i - start)));
            start = i + 2;
        }
        ++i;
    }
    texts.push_back(Unescape(text.substr(start)));
    return texts;
}

std::string Seconds(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << seconds;
    return text.str();
}

constexpr const char* ResultTag = "result";

} // namespace

std::vector<TSetting*> FindNamedSettings(const TSettings& tree, const std::string& name) {
    std::vector<TSetting*> found;
    // Either side of any slash may be the split: names of groups and settings may hold one.
    for (size_t slash = name.find('/'); slash != std::string::npos && found.empty();
         slash = name.find('/', slash + 1)) {
        const std::string group = name.substr(0, slash);
        const std::string setting = name.substr(slash + 1);
        for (const auto& candidate : tree.Groups) {
            if (candidate->Name != group)
                continue;
            for (const auto& entry : candidate->Settings) {
                if (entry->Name == setting && entry->RegisterType != rtNone && !entry->DisplayOnly())
                    found.push_back(entry.get());
            }
        }
    }
    if (found.empty())
        throw TModelError("No setting named \"" + name + "\" (GROUP/SETTING) in this device type");
    return found;
}

TLoadedValue ShownLoadedValue(TSetting& setting, const std::string& text) {
    // The value goes into the element a settings file would hold and is read back by the
    // setting's own file load, so it is converted, cut and warned about as a file's would be.
    pugi::xml_document document;
    pugi::xml_node group = document.append_child("group");
    setting.SaveToXml(group);
    pugi::xml_node element = group.last_child();
    // Taken as typed or shown, inside its limits or not: the file load checks and warns as it
    // does for a file's value. A text the unit cannot store fully is made storable there too.
    const TParsed parsed = setting.Parse(text);
    if (parsed.Text) {
        element.attribute("text") = parsed.Text->c_str();
        return setting.FindLoadedValue(group);
    }
    if (!parsed.Value)
        throw TModelError("\"" + text + "\" is not a value of " + setting.Group->Name + "/" + setting.Name);
    const int32_t found = *parsed.Value;
    element.attribute("value") = found;
    if (pugi::xml_attribute wide = element.attribute("Address"))
        wide = static_cast<unsigned int>(static_cast<uint32_t>(found));
    return setting.FindLoadedValue(group);
}

namespace {

// Whether writing one setting can change what the other holds: the same coil, or holding
// registers in common (a single register only where the bit masks overlap).
bool ShareRegister(const TSetting& a, const TSetting& b) {
    if (&a == &b || a.RegisterType != b.RegisterType || a.InTemplate || b.InTemplate)
        return false;
    if (a.RegisterType == rtCoil)
        return a.Register == b.Register;
    if (a.RegisterType != rtHoldingRegister)
        return false;
    const int32_t aEnd = a.Register + a.RegisterSpan();
    const int32_t bEnd = b.Register + b.RegisterSpan();
    if (a.Register >= bEnd || b.Register >= aEnd)
        return false;
    if (a.RegisterSpan() > 1 || b.RegisterSpan() > 1)
        return true;
    const auto bits = [](const TSetting& s) {
        return s.BitMask == 0 ? 0xFFFFu : static_cast<uint16_t>(s.BitMask);
    };
    return (bits(a) & bits(b)) != 0;
}

} // namespace

std::string KeepConflict(const TSettings& tree, const std::string& file, const TLoadOptions& load,
                         const std::vector<std::string>& keep,
                         const std::vector<std::pair<std::string, std::string>>& own) {
    // What the run sets on the unit: every setting the file gives (a load by names leaves those
    // it lacks as they are), then the values given for the unit alone, which overrule a keep.
    std::set<const TSetting*> given;
    if (load.ByName) {
        pugi::xml_document document;
        XmlLoadFile(document, file);
        for (const TNameMatch::TPair& pair :
             MatchByName(tree, document.document_element().child("device")).Pairs)
            given.insert(pair.Entry);
    } else {
        for (const auto& group : tree.Groups) {
            for (const auto& entry : group->Settings)
                given.insert(entry.get());
        }
    }
    std::map<const TSetting*, std::string> kept;
    for (const std::string& name : keep) {
        for (const TSetting* setting : FindNamedSettings(tree, name)) {
            kept.emplace(setting, name);
            given.erase(setting);
        }
    }
    for (const auto& entry : own) {
        for (const TSetting* setting : FindNamedSettings(tree, entry.first)) {
            given.insert(setting);
            kept.erase(setting);
        }
    }
    for (const auto& [setting, name] : kept) {
        for (const auto& group : tree.Groups) {
            for (const auto& other : group->Settings) {
                if (given.count(other.get()) == 0 || !ShareRegister(*setting, *other) || other->DisplayOnly())
                    continue;
                return "\"" + name + "\" shares its register with \"" + group->Name + "/" + other->Name +
                       "\", which this run sets: keep both, or neither";
            }
        }
    }
    return {};
}

std::string ReadPerUnitText(std::istream& in, const std::string& path) {
    // A pipe or a device is read as it comes, and only so far.
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > MaxPerUnitBytes) {
            throw TModelError("The per-unit values \"" + path + "\" are larger than " +
                              std::to_string(MaxPerUnitBytes >> 20) + " MiB: give a CSV of one row per unit");
        }
    }
    if (in.bad())
        throw TModelError("Cannot read the per-unit values \"" + path + "\": " + std::strerror(errno));
    return text;
}

TPerUnitValues ParsePerUnitValues(const std::string& text, const std::string& path) {
    // Spreadsheets save "CSV UTF-8" with a byte-order mark first.
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    const auto rows = ParseCsv(text.compare(0, Bom.size(), Bom) == 0 ? text.substr(Bom.size()) : text);
    if (rows.empty() || rows.front().empty() || rows.front().front() != "target")
        throw TModelError("The per-unit values \"" + path +
                          "\" do not begin with the header target,GROUP/SETTING,...");
    const std::vector<std::string>& header = rows.front();
    TPerUnitValues values;
    for (size_t r = 1; r < rows.size(); ++r) {
        const auto& row = rows[r];
        if (row.size() > header.size()) {
            throw TModelError("The per-unit values \"" + path + "\": line " + std::to_string(r + 1) +
                              " has more fields than the header");
        }
        if (values.count(row.front()) != 0) {
            throw TModelError("The per-unit values \"" + path + "\" give target " + row.front() + " twice");
        }
        auto& own = values[row.front()];
        for (size_t c = 1; c < row.size(); ++c) {
            // An empty field leaves that setting to the site's file.
            if (!row[c].empty())
                own.emplace_back(header[c], row[c]);
        }
    }
    return values;
}

TPerUnitValues LoadPerUnitValues(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw TModelError("Cannot read the per-unit values \"" + path + "\": " + std::strerror(errno));
    return ParsePerUnitValues(ReadPerUnitText(file, path), path);
}

std::string PerUnitValuesCsv(const TPerUnitValues& values) {
    // One column per name, in the order first met; a field left empty leaves it to the file.
    std::vector<std::string> names;
    for (const auto& [target, own] : values) {
        for (const auto& value : own) {
            if (std::find(names.begin(), names.end(), value.first) == names.end())
                names.push_back(value.first);
        }
    }
    TCsvWriter csv;
    std::vector<std::string> header{"target"};
    header.insert(header.end(), names.begin(), names.end());
    csv.AddRow(header);
    for (const auto& [target, own] : values) {
        std::vector<std::string> row(names.size() + 1);
        row[0] = target;
        for (const auto& value : own)
            row[static_cast<size_t>(std::find(names.begin(), names.end(), value.first) - names.begin()) + 1] =
                value.second;
        csv.AddRow(row);
    }
    return csv.Text();
}

std::pair<std::string, int32_t> SettingsFileDevice(const std::string& path) {
    pugi::xml_document document;
    XmlLoadFile(document, path);
    const pugi::xml_node device = document.document_element().child("device");
    if (std::strcmp(document.document_element().name(), "settings") != 0 || !device)
        throw TModelError("Could not find node 'device' in XML document");
    return {device.attribute("name").value(), device.attribute("device_id").as_int()};
}

void ApplySiteValues(TSettings& tree, const std::string& file, const TLoadOptions& load,
                     const std::vector<std::string>& keep,
                     const std::vector<std::pair<std::string, std::string>>& own) {
    // The unit's own values of the kept settings, as a settings file would hold them.
    pugi::xml_document kept;
    pugi::xml_node group = kept.append_child("group");
    std::vector<TSetting*> keptSettings;
    for (const std::string& name : keep) {
        for (TSetting* setting : FindNamedSettings(tree, name)) {
            setting->SaveToXml(group);
            keptSettings.push_back(setting);
        }
    }
    // Named before anything changes, so a wrong name leaves the unit's values as read.
    std::vector<std::pair<std::vector<TSetting*>, std::string>> ownSettings;
    for (const auto& [name, value] : own)
        ownSettings.emplace_back(FindNamedSettings(tree, name), value);

    tree.LoadFromFile(file, load);
    for (TSetting* setting : keptSettings)
        setting->LoadFromSettingsXml(group);
    // The unit's own values pass the checks of a settings file's, with its messages.
    std::vector<TPendingValue> pending;
    for (const auto& [settings, value] : ownSettings) {
        for (TSetting* setting : settings)
            pending.push_back({setting, ShownLoadedValue(*setting, value)});
    }
    const std::vector<std::string> outside = CheckLoadedValues(pending, tree.CurrentUnits);
    if (!outside.empty() && !load.AllowOutOfRange)
        throw TOutOfLimitsError(outside);
    for (const TPendingValue& value : pending) {
        value.Entry->ApplyLoadedValue(value.Loaded);
        if (!value.Loaded.Warning.empty())
            tree.LoadWarnings.push_back(value.Loaded.Warning);
    }
    for (const std::string& value : outside)
        tree.LoadWarnings.push_back("Loaded outside its limits: " + value);
}

std::string CommissionResultLine(const TCommissionResult& result) {
    return std::string(ResultTag) + "\t" + Escape(result.port) + "\t" + std::to_string(result.address) +
           "\t" + std::to_string(result.deviceId) + "\t" + Escape(result.deviceType) + "\t" +
           OutcomeWord(result.outcome) + "\t" + std::to_string(result.changed) + "\t" +
           Seconds(result.seconds) + "\t" + Escape(result.message) + "\t" + Escape(result.backup) + "\t" +
           EscapeList(result.warnings);
}

std::optional<TCommissionResult> ParseCommissionResultLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() != 11 || fields[0] != ResultTag)
        return std::nullopt;
    TCommissionResult result;
    const auto outcome = OutcomeFromWord(fields[5]);
    if (!outcome)
        return std::nullopt;
    try {
        result.port = Unescape(fields[1]);
        result.address = std::stoi(fields[2]);
        result.deviceId = std::stoi(fields[3]);
        result.deviceType = Unescape(fields[4]);
        result.outcome = *outcome;
        result.changed = std::stoi(fields[6]);
        result.seconds = std::stod(fields[7]);
        result.message = Unescape(fields[8]);
        result.backup = Unescape(fields[9]);
        result.warnings = UnescapeList(fields[10]);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return result;
}

std::string CommissionResultText(const TCommissionResult& result) {
    std::string text = result.port + "@" + std::to_string(result.address) + "  ";
    if (!result.deviceType.empty())
        text += result.deviceType + "  ";
    switch (result.outcome) {
    case TOutcome::Verified:
    case TOutcome::Unchanged:
    case TOutcome::WouldChange:
    case TOutcome::Unconfirmed:
    case TOutcome::Saved:
        text += std::string(OutcomeWord(result.outcome)) + "  " + std::to_string(result.changed) +
                " settings changed  " + Seconds(result.seconds) + " s";
        if (!result.message.empty() && result.outcome != TOutcome::Verified &&
            result.outcome != TOutcome::Unchanged)
            text += ": " + result.message;
        return text;
    default:
        return text + OutcomeWord(result.outcome) + ": " + result.message;
    }
}

std::string CommissionReportCsv(const std::vector<TCommissionResult>& results) {
    TCsvWriter csv;
    csv.AddRow({"port", "address", "device_id", "device_type", "result", "changed", "seconds", "message",
                "backup", "warnings"});
    for (const TCommissionResult& result : results) {
        std::string warnings;
        for (const std::string& warning : result.warnings)
            warnings += (warnings.empty() ? "" : "; ") + warning;
        csv.AddRow({CsvSafeText(result.port), std::to_string(result.address), std::to_string(result.deviceId),
                    CsvSafeText(result.deviceType), OutcomeWord(result.outcome),
                    std::to_string(result.changed), Seconds(result.seconds), CsvSafeText(result.message),
                    CsvSafeText(result.backup), CsvSafeText(warnings)});
    }
    return csv.Text();
}

TSiteStatus SiteStatus(const std::vector<TCommissionResult>& results, bool dryRun) {
    const auto all = [&](std::initializer_list<TOutcome> allowed) {
        return std::all_of(results.begin(), results.end(), [&](const TCommissionResult& result) {
            return std::find(allowed.begin(), allowed.end(), result.outcome) != allowed.end();
        });
    };
    if (std::any_of(results.begin(), results.end(),
                    [](const TCommissionResult& result) { return result.outcome == TOutcome::Stopped; }))
        return TSiteStatus::Stopped;
    if (dryRun)
        return all({TOutcome::WouldChange, TOutcome::Unchanged}) ? TSiteStatus::Done : TSiteStatus::Failed;
    // Each unit's exit status, as `write` gives it: the worst one is the site's.
    bool unconfirmed = false;
    for (const TCommissionResult& result : results) {
        const TCliExit status = OutcomeExitStatus(result.outcome);
        if (status != cliOk && status != cliUnconfirmed)
            return TSiteStatus::Failed;
        unconfirmed = unconfirmed || status == cliUnconfirmed;
    }
    return unconfirmed ? TSiteStatus::Unconfirmed : TSiteStatus::Done;
}
