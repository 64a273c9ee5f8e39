#pragma once
// Commissioning a site: one settings file applied to many units, each keeping what is its own
// (settings named to keep, values given for that unit alone), and one result per unit that a
// report, a record and the exit status are made from.
#include "features/Outcome.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A setting named as "GROUP/SETTING": every entry of that name in every group of that name, so
// a template setting is named once for all of its copies. Raises when none is found.
std::vector<TSetting*> FindNamedSettings(const TSettings& tree, const std::string& name);

// A setting's value from its value as the window shows it ("2.50 m/sec" or "2.50", a choice's
// name, "Enabled", a text), read as a settings file's value would be (texts cut and warned
// about); not applied, and not yet checked against the limits. Raises when it is none of the
// setting's values.
TLoadedValue ShownLoadedValue(TSetting& setting, const std::string& text);

// A setting named in `keep` that shares a coil, or bits of a holding register, with one the run
// sets on a unit (from the file or `own`): writing that one would overwrite the kept value. The
// message names both; empty when there is none. Raises for names the device type lacks.
std::string KeepConflict(const TSettings& tree, const std::string& file, const TLoadOptions& load,
                         const std::vector<std::string>& keep,
                         const std::vector<std::pair<std::string, std::string>>& own);

// Values for each target alone: target -> ("GROUP/SETTING", value as the window shows it).
using TPerUnitValues = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;
// The most a per-unit file may hold: it may be a pipe or a device that never ends.
constexpr size_t MaxPerUnitBytes = size_t{16} << 20;
// All of `in`, read once (a pipe is read as it comes); raises beyond MaxPerUnitBytes, naming `path`.
std::string ReadPerUnitText(std::istream& in, const std::string& path);
// The CSV with the header line "target,GROUP/SETTING,..." and one row per target (a UTF-8
// byte-order mark first is allowed). Raises, naming `path`.
TPerUnitValues ParsePerUnitValues(const std::string& text, const std::string& path);
// The file at `path` read and parsed so. Raises.
TPerUnitValues LoadPerUnitValues(const std::string& path);
// The values as a CSV that ParsePerUnitValues reads back as they are.
std::string PerUnitValuesCsv(const TPerUnitValues& values);

// The device type a settings file is for: its name and device id; raises when it is no settings
// file.
std::pair<std::string, int32_t> SettingsFileDevice(const std::string& path);

// The tree holds a unit's values: the site's file is loaded over them, then the settings named
// in `keep` get the unit's values back, then `own` sets this unit's values, checked as the file's are
// (limits, with load.AllowOutOfRange; warnings added to tree.LoadWarnings). Raises the load's
// errors (the device-type message for a file of another device type) with nothing changed.
void ApplySiteValues(TSettings& tree, const std::string& file, const TLoadOptions& load,
                     const std::vector<std::string>& keep,
                     const std::vector<std::pair<std::string, std::string>>& own);

// What became of one target.
struct TCommissionResult {
    std::string port; // as given, without the address
    int32_t address = 1;
    int32_t deviceId = 0; // 0: no unit answered
    std::string deviceType;
    TOutcome outcome = TOutcome::Failed;
    int32_t changed = 0; // settings that differ (dry run) or were written
    double seconds = 0;
    std::string message;               // one line
    std::string backup;                // what the unit held before the write, as saved; "" for none
    std::vector<std::string> warnings; // what was changed to apply the values, or not saved
};

// The line a port's run hands to the commissioning run, and back; nothing for another line.
std::string CommissionResultLine(const TCommissionResult& result);
std::optional<TCommissionResult> ParseCommissionResultLine(const std::string& line);
// The line the engineer reads as the unit finishes.
std::string CommissionResultText(const TCommissionResult& result);
// The report: port,address,device_id,device_type,result,changed,seconds,message,backup,warnings.
std::string CommissionReportCsv(const std::vector<TCommissionResult>& results);

// How a site's run went, as a whole.
enum class TSiteStatus {
    Done,        // every unit verified, saved or unchanged (a dry run: reached and of the file's type)
    Unconfirmed, // the rest only unconfirmed
    Failed,      // some unit failed, differs, is of another type or did not answer
    Stopped,     // stopped by the engineer
};
TSiteStatus SiteStatus(const std::vector<TCommissionResult>& results, bool dryRun);
