#include "features/Jsonlines.h"

#include "definitions/Definitioncheck.h"
#include "features/Commission.h"
#include "features/History.h"
#include "features/Outcome.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "settings/Settings.h"
#include "settings/Snapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The group as a difference row names it: a group of ten copies adds the copy's heading, since
// its settings' names repeat in every copy.
std::string GroupText(const TGroup& group, size_t entryIndex) {
    if (!group.TenGroups)
        return group.Name;
    for (size_t i = entryIndex + 1; i-- > 0;) {
        const TSetting* entry = group.Settings[i].get();
        if (dynamic_cast<const TSettingSectionLabel*>(entry) != nullptr)
            return group.Name + " / " + entry->Name;
    }
    return group.Name;
}

// The number or choice the shown text stands for, and its units, by the setting's kind.
void AddValue(QJsonObject& object, const TSetting& entry, const TSettings& tree) {
    if (dynamic_cast<const TSettingName*>(&entry) != nullptr)
        return; // a text is its own value
    if (const auto* units = dynamic_cast<const TSettingUnits*>(&entry)) {
        // The word records the unit it was entered in; the number is shown in the tree's units.
        object.insert("value", Q(units->EntryText()).toDouble());
        object.insert("units", Q(tree.CurrentUnits));
        return;
    }
    if (const auto* wide = dynamic_cast<const TSettingUint32*>(&entry)) {
        object.insert("value", static_cast<qint64>(static_cast<uint32_t>(wide->Value)));
        object.insert("units", Q(wide->ValueText));
        return;
    }
    object.insert("value", entry.Value);
    if (const auto* number = dynamic_cast<const TSettingInt*>(&entry))
        object.insert("units", Q(number->ValueText));
    else if (dynamic_cast<const TSettingDropDown*>(&entry) != nullptr)
        object.insert("choice", Q(entry.Text()));
}

} // namespace

QJsonObject JsonObject(const char* kind) {
    return QJsonObject{{"schema", JsonSchemaVersion}, {"kind", kind}};
}

std::string JsonLine(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

QJsonObject JsonDevice(int32_t position, const TDevice& device) {
    QJsonObject object = JsonObject("device");
    object.insert("position", position);
    object.insert("device_id", device.DeviceId);
    object.insert("settings_id", device.SettingsId);
    object.insert("name", Q(device.Name));
    return object;
}

namespace {

// The setting at `e` of the group at `g`, whose words `words` are.
QJsonObject JsonSetting(const TSettings& tree, size_t g, size_t e, const std::vector<uint16_t>& words) {
    const TGroup& group = *tree.Groups[g];
    const TSetting& entry = *group.Settings[e];
    QJsonObject object = JsonObject("setting");
    object.insert("group", Q(GroupText(group, e)));
    object.insert("name", Q(entry.Name));
    // Group names repeat from one controller to the next: the positions tell them apart.
    object.insert("group_index", static_cast<qint64>(g));
    object.insert("entry_index", static_cast<qint64>(e));
    object.insert("text", Q(entry.Text()));
    AddValue(object, entry, tree);
    object.insert("register_type", entry.RegisterType == rtCoil ? "coil" : "holding");
    QJsonArray registers;
    QJsonArray stored;
    for (size_t i = 0; i < words.size(); ++i) {
        registers.append(entry.FileRegister() + static_cast<int32_t>(i));
        stored.append(words[i]);
    }
    object.insert("registers", registers);
    object.insert("words", stored);
    return object;
}

} // namespace

std::vector<QJsonObject> JsonSettings(const TSettings& tree, bool fromUnit) {
    std::vector<QJsonObject> objects;
    for (size_t g = 0; g < tree.Groups.size(); ++g) {
        const auto& group = tree.Groups[g];
        for (size_t e = 0; e < group->Settings.size(); ++e) {
            const TSetting& entry = *group->Settings[e];
            const std::vector<uint16_t> words = entry.StoredWords();
            if (words.empty() || (fromUnit && entry.InTemplate))
                continue;
            objects.push_back(JsonSetting(tree, g, e, words));
        }
    }
    return objects;
}

QJsonObject JsonChange(const TSettings& tree, const TDifference& change) {
    const auto g = static_cast<size_t>(change.GroupIndex);
    const auto e = static_cast<size_t>(change.EntryIndex);
    QJsonObject object = JsonSetting(tree, g, e, tree.Groups[g]->Settings[e]->StoredWords());
    object.insert("before", Q(change.A));
    return object;
}

QJsonObject JsonDifference(const TDifference& difference) {
    QJsonObject object = JsonObject("difference");
    object.insert("group", Q(difference.Group));
    object.insert("setting", Q(difference.Setting));
    object.insert("group_index", difference.GroupIndex);
    object.insert("entry_index", difference.EntryIndex);
    object.insert("a", Q(difference.A));
    object.insert("b", Q(difference.B));
    return object;
}

QJsonObject JsonFinding(const std::string& file, const TDefinitionFinding& finding) {
    QJsonObject object = JsonObject("finding");
    object.insert("file", Q(file));
    if (finding.Line > 0)
        object.insert("line", finding.Line);
    object.insert("severity", finding.IsError ? "error" : "warning");
    object.insert("message", Q(finding.Text));
    return object;
}

QJsonObject JsonHistoryEntry(const THistoryEntry& entry) {
    // The record's own line, so the two never disagree about a field.
    QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(HistoryEntryJson(entry))).object();
    const QJsonObject head = JsonObject("entry");
    for (auto it = head.begin(); it != head.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QJsonObject JsonPort(const std::string& name, const std::string& path, bool isDefault) {
    QJsonObject object = JsonObject("port");
    object.insert("name", Q(name));
    object.insert("path", Q(path));
    object.insert("default", isDefault);
    return object;
}

QJsonObject JsonScannedUnit(int32_t address, int32_t deviceId, const std::string& deviceType) {
    QJsonObject object = JsonObject("unit");
    object.insert("address", address);
    object.insert("device_id", deviceId);
    if (!deviceType.empty())
        object.insert("device_type", Q(deviceType));
    return object;
}

QJsonObject JsonCommissionedUnit(const TCommissionResult& result) {
    QJsonObject object = JsonObject("unit");
    object.insert("port", Q(result.port));
    object.insert("address", result.address);
    if (result.deviceId != 0) {
        object.insert("device_id", result.deviceId);
        object.insert("device_type", Q(result.deviceType));
    }
    object.insert("result", OutcomeWord(result.outcome));
    object.insert("changed", result.changed);
    object.insert("seconds", result.seconds);
    object.insert("message", Q(result.message));
    object.insert("backup", Q(result.backup));
    QJsonArray warnings;
    for (const std::string& warning : result.warnings)
        warnings.append(Q(warning));
    object.insert("warnings", warnings);
    return object;
}

QJsonObject JsonMessage(const char* kind, const std::string& message) {
    QJsonObject object = JsonObject(kind);
    object.insert("message", Q(message));
    return object;
}

QJsonObject JsonResult(const std::string& outcome) {
    QJsonObject object = JsonObject("result");
    object.insert("outcome", Q(outcome));
    return object;
}

QJsonObject JsonWriteResult(const TRunEnd& end) {
    QJsonObject object = JsonResult(OutcomeWord(end.Outcome));
    object.insert("message", Q(end.Message));
    if (end.Outcome == TOutcome::Verified)
        object.insert("changed", static_cast<qint64>(end.Changed));
    if (!end.Note.empty())
        object.insert("note", Q(end.Note));
    return object;
}
