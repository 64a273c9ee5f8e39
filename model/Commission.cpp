#include "model/Commission.h"

#include "model/Csv.h"
#include "model/Errors.h"
#include "model/Group.h"
#include "model/Xmlutil.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_name.h"
#include "settings/Setting_uint32.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <pugixml.hpp>
#include <sstream>

namespace {

// The records of comma-separated text (RFC 4180: quoted fields may hold commas, quotes doubled
// and line breaks).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    bool any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            if (any || !field.empty()) {
                row.push_back(std::move(field));
                rows.push_back(std::move(row));
            }
            row.clear();
            field.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.empty()) {
        row.push_back(std::move(field));
        rows.push_back(std::move(row));
    }
    return rows;
}

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

void SetShownValue(TSetting& setting, const std::string& text) {
    pugi::xml_document document;
    pugi::xml_node group = document.append_child("group");
    setting.SaveToXml(group);
    pugi::xml_node element = group.last_child();
    if (dynamic_cast<TSettingName*>(&setting) != nullptr) {
        element.attribute("text") = text.c_str();
        setting.LoadFromSettingsXml(group);
        return;
    }
    std::optional<int32_t> found;
    if (dynamic_cast<TSettingUint32*>(&setting) != nullptr) {
        const std::string number = text.substr(0, text.find(' '));
        uint32_t value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (!number.empty() && error == std::errc() && end == number.data() + number.size())
            found = static_cast<int32_t>(value);
    } else {
        // The value whose display reads as the text: the window's own conversion, run backwards
        // over the values the setting can take.
        std::vector<int32_t> candidates;
        if (const auto* dropDown = dynamic_cast<TSettingDropDown*>(&setting)) {
            for (const auto& choice : dropDown->Choices)
                candidates.push_back(choice.Value);
        } else if (dynamic_cast<TSettingCheckBox*>(&setting) != nullptr) {
            candidates = {0, 1};
        } else {
            const int64_t low = std::min(setting.MinValue, setting.MaxValue);
            const int64_t high = std::max(setting.MinValue, setting.MaxValue);
            constexpr int64_t MostCandidates = 1 << 20;
            for (int64_t value = low; value <= high && value - low < MostCandidates; ++value)
                candidates.push_back(static_cast<int32_t>(value));
        }
        const int32_t kept = setting.Value;
        for (const int32_t value : candidates) {
            setting.Value = value;
            const std::string shown = setting.DisplayValue();
            if (shown == text || shown.substr(0, shown.find(' ')) == text) {
                found = value;
                break;
            }
        }
        setting.Value = kept;
    }
    if (!found) {
        throw TModelError("\"" + text + "\" is not a value of " + setting.Group->Name + "/" + setting.Name);
    }
    element.attribute("value") = *found;
    if (pugi::xml_attribute wide = element.attribute("Address"))
        wide = static_cast<unsigned int>(static_cast<uint32_t>(*found));
    setting.LoadFromSettingsXml(group);
}

TPerUnitValues LoadPerUnitValues(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw TModelError("Cannot read the per-unit values \"" + path + "\": " + std::strerror(errno));
    std::ostringstream content;
    content << file.rdbuf();
    const auto rows = ParseCsv(content.str());
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
    for (const auto& [settings, value] : ownSettings) {
        for (TSetting* setting : settings)
            SetShownValue(*setting, value);
    }
}

std::string CommissionResultLine(const TCommissionResult& result) {
    return std::string(ResultTag) + "\t" + Escape(result.port) + "\t" + std::to_string(result.address) +
           "\t" + std::to_string(result.deviceId) + "\t" + Escape(result.deviceType) + "\t" +
           OutcomeWord(result.outcome) + "\t" + std::to_string(result.changed) + "\t" +
           Seconds(result.seconds) + "\t" + Escape(result.message);
}

std::optional<TCommissionResult> ParseCommissionResultLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() != 9 || fields[0] != ResultTag)
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
        if (!result.message.empty() &&
            (result.outcome == TOutcome::Unconfirmed || result.outcome == TOutcome::Saved))
            text += ": " + result.message;
        return text;
    default:
        return text + OutcomeWord(result.outcome) + ": " + result.message;
    }
}

std::string CommissionReportCsv(const std::vector<TCommissionResult>& results) {
    TCsvWriter csv;
    csv.AddRow({"port", "address", "device_id", "device_type", "result", "changed", "seconds", "message"});
    for (const TCommissionResult& result : results) {
        csv.AddRow({CsvSafeText(result.port), std::to_string(result.address), std::to_string(result.deviceId),
                    CsvSafeText(result.deviceType), OutcomeWord(result.outcome),
                    std::to_string(result.changed), Seconds(result.seconds), CsvSafeText(result.message)});
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
    if (all({TOutcome::Verified, TOutcome::Unchanged, TOutcome::Saved}))
        return TSiteStatus::Done;
    if (all({TOutcome::Verified, TOutcome::Unchanged, TOutcome::Saved, TOutcome::Unconfirmed}))
        return TSiteStatus::Unconfirmed;
    return TSiteStatus::Failed;
}
