#pragma once
// Machine-readable output: every object a program prints for scripts, one per line of JSON
// Lines, each with the schema version and its kind. Built here once, so the command line and
// anything after it print the same objects; data/dezadizi-cli.schema.json describes them.
#include <QJsonObject>
#include <cstdint>
#include <string>
#include <vector>

class TDevice;
class TSettings;
struct TDifference;
struct TDefinitionFinding;
struct THistoryEntry;
struct TCommissionResult;
struct TRunEnd;

// The version of the objects' shape; it changes only when a field changes meaning or goes.
constexpr int JsonSchemaVersion = 1;

// An object of `kind` with the schema version; the builders below start from it.
QJsonObject JsonObject(const char* kind);
// One line: the compact object and a line break. Texts stay UTF-8, escaped as JSON requires.
std::string JsonLine(const QJsonObject& object);

// A device type of the catalogue at `position`.
QJsonObject JsonDevice(int32_t position, const TDevice& device);
// One object per setting of `tree` that writes the unit's coils or holding registers, in tree
// order: its group, name, shown text, the number or choice it stands for, units and registers.
// `fromUnit`: the tree holds a unit's values, which has no template groups.
std::vector<QJsonObject> JsonSettings(const TSettings& tree, bool fromUnit = false);
// A setting a write changes, as JsonSettings gives it with the value to be sent, and the text
// the unit held before (`change`: the setting as the unit held it against `tree`).
QJsonObject JsonChange(const TSettings& tree, const TDifference& change);
// A line of a comparison.
QJsonObject JsonDifference(const TDifference& difference);
// A finding of the definition check in `file`.
QJsonObject JsonFinding(const std::string& file, const TDefinitionFinding& finding);
// One write run of the record, with its changed settings.
QJsonObject JsonHistoryEntry(const THistoryEntry& entry);
// A comm port name and the device it opens; `isDefault` when no mapping is saved for it.
QJsonObject JsonPort(const std::string& name, const std::string& path, bool isDefault);
// A unit that answered a scan; `deviceType` empty for a device id the catalogue lacks.
QJsonObject JsonScannedUnit(int32_t address, int32_t deviceId, const std::string& deviceType);
// How commissioning went on one unit.
QJsonObject JsonCommissionedUnit(const TCommissionResult& result);
// A warning or an error, for standard error.
QJsonObject JsonMessage(const char* kind, const std::string& message);
// The closing summary: the outcome word; callers add the counts.
QJsonObject JsonResult(const std::string& outcome);
// The closing summary of a write that ran: its outcome, the message the text prints, the
// settings changed where the message counts them, and the note on what is left to do.
QJsonObject JsonWriteResult(const TRunEnd& end);
