#include "CliCommission.h"

#include "CliOnline.h"

#include "base/Errors.h"
#include "base/Savefile.h"
#include "definitions/Devices.h"
#include "features/Commission.h"
#include "features/Compare.h"
#include "features/History.h"
#include "features/Jsonlines.h"
#include "modbus/Registerdatastore.h"
#include "modbus/SerialPort.h"
#include "modbus/Tracefile.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"

#include "Stopsignals.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

const char* const CommissionUsage =
    "usage: dezadizi-cli commission FILE TARGET... [-d FILE] [--keep \"GROUP/SETTING\"]... "
    "[--per-unit FILE.csv] [--report OUT.csv] [--dry-run] [--by-name] [--allow-out-of-range] [--timeout "
    "MS]\n";

std::string TargetKey(const TPortTarget& target) {
    return target.name + "@" + std::to_string(target.address);
}

// The device a port name opens: a comm name through the user settings, a link as its real path,
// so one line named several ways is one line.
std::string LineOf(const std::string& name) {
    const std::string path = SerialPort::ResolvePortName(name);
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    return error ? path : real.string();
}

// What one run goes over: a serial line, or a gateway's one connection (by its normalised text).
std::string LineOf(const TPortTarget& target) {
    const std::string gateway = GatewayText(target);
    return gateway.empty() ? LineOf(target.name) : gateway;
}

std::string UnitKey(const TPortTarget& target) {
    return LineOf(target) + "@" + std::to_string(target.address);
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error);
}

// Messages of several lines (a search's advice, the differences of a verification) on one line.
std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            line += text[i];
            continue;
        }
        while (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == ' '))
            ++i;
        if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "; ") + line;
    return text;
}

// The settings that differ between the unit as read and what is to be written.
int32_t ChangedSettings(const TSettings& tree, const TSnapshot& before) {
    const auto differences = CompareSnapshots(tree, before, TakeSnapshot(tree, true));
    return static_cast<int32_t>(std::count_if(differences.begin(), differences.end(),
                                              [](const TDifference& d) { return !d.UnitsSelector; }));
}

// A unit found and read: checked against the file's device type, loaded with the site's values,
// and written unless this is a dry run.
void WriteFoundUnit(const TCliOptions& options, const TPortTarget& target,
                    const std::pair<std::string, int32_t>& fileDevice,
                    const std::vector<std::pair<std::string, std::string>>& own, TUnitSession& unit,
                    TCommissionResult& result) {
    TSettings& tree = *unit.device.Settings;
    result.deviceId = unit.device.DeviceId;
    result.deviceType = unit.device.Name;
    if (unit.device.Name != fileDevice.first || unit.device.DeviceId != fileDevice.second) {
        result.outcome = TOutcome::WrongDevice;
        try {
            // The load refuses a file of another device type with its own message.
            tree.LoadFromFile(options.positional[0], {options.byName, options.allowOutOfRange});
            result.message = "The settings file is for a " + fileDevice.first;
        } catch (const std::exception& e) {
            result.message = OneLine(e.what());
        }
        return;
    }
    const TSnapshot before = TakeSnapshot(tree, true);
    try {
        ApplySiteValues(tree, options.positional[0], {options.byName, options.allowOutOfRange}, options.keep,
                        own);
    } catch (const TOutOfLimitsError& e) {
        throw TModelError(std::string(e.what()) + "\n--allow-out-of-range loads them anyway.");
    }
    result.warnings = tree.LoadWarnings;
    result.changed = ChangedSettings(tree, before);
    if (options.dryRun) {
        result.outcome = result.changed > 0 ? TOutcome::WouldChange : TOutcome::Unchanged;
        // The real run would send the save command an earlier run left owed.
        std::string unreadable;
        if (result.changed == 0 && RecordSaysCommitOwed(HistoryPath(), target.name, target.address,
                                                        unit.device.DeviceId, unreadable)) {
            result.outcome = TOutcome::WouldChange;
            result.message = "Nothing differs; would send the save command the last run owed.";
        }
        return;
    }
    const auto takeRecord = [&] {
        result.backup = unit.backup;
        result.warnings.insert(result.warnings.end(), unit.recordWarnings.begin(), unit.recordWarnings.end());
    };
    TRunEnd end;
    try {
        end = unit.write(false, true);
    } catch (...) {
        takeRecord();
        throw;
    }
    takeRecord();
    result.outcome = end.Outcome;
    if (end.Outcome == TOutcome::Unchanged)
        result.changed = 0;
    // The report's one line: a note, where there is one, says what is left to do.
    result.message = end.Outcome == TOutcome::Mismatch ? Joined(end.Differences)
                                                       : OneLine(end.Note.empty() ? end.Message : end.Note);
}

// One unit of a port's run: found, checked, read, written, committed and verified.
TCommissionResult CommissionUnit(const TCliOptions& options, const TPortTarget& target,
                                 const std::pair<std::string, int32_t>& fileDevice,
                                 const std::vector<std::pair<std::string, std::string>>& own,
                                 const TCliLink& link, std::ostream& err) {
    TCommissionResult result;
    result.port = target.name;
    result.address = target.address;
    if (link.trace)
        link.trace->SetTarget(TargetKey(target));
    const auto start = std::chrono::steady_clock::now();
    try {
        if (CliStopRequested())
            throw TModelError("Stopped before this unit was reached.");
        // A catalogue of its own, numbered as a fresh run numbers it, so the file finds its
        // settings whichever unit came before.
        TRegisterDataStore store;
        TDevices devices(store);
        devices.LoadFromFile(options.definitionFile);
        // Known once the unit answers, so a read that fails still names what was found.
        const auto identified = [&](const TDevice& device) {
            result.deviceId = device.DeviceId;
            result.deviceType = device.Name;
        };
        WithUnitSession(
            devices, target, link, options.positional[0], err, identified,
            [&](TUnitSession& unit) { WriteFoundUnit(options, target, fileDevice, own, unit, result); });
    } catch (const TCliUnknownDevice& e) {
        result.deviceId = e.DeviceId;
        result.outcome = TOutcome::WrongDevice;
        result.message = OneLine(e.what());
    } catch (const TCliNoUnit& e) {
        result.outcome = TOutcome::NoUnit;
        result.message = OneLine(e.what());
    } catch (const std::exception& e) {
        result.outcome = CliStopRequested() ? TOutcome::Stopped : TOutcome::Failed;
        result.message = OneLine(e.what());
    }
    // Told as they happened to this unit, whatever became of it.
    for (const std::string& warning : result.warnings) {
        // The record's own warnings already begin with the unit.
        const std::string unit = TargetKey(target) + ": ";
        const std::string line = OneLine(warning);
        err << "warning: " << (line.rfind(unit, 0) == 0 ? "" : unit) << line << "\n";
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

// A port's child process and what it has said so far.
struct TPortRun {
    std::unique_ptr<QProcess> process;
    std::vector<TPortTarget> targets;
    std::string pending;
    std::set<std::string> reported;
};

// The targets as given, each unit once. `units` maps the device and address each resolves to
// onto its index in `targets`. Gives the exit status to end with, or nothing to go on.
std::optional<int> CommissionTargets(const TCliOptions& options, std::ostream& err,
                                     std::vector<TPortTarget>& targets,
                                     std::map<std::string, size_t>& units) {
    for (size_t i = 1; i < options.positional.size(); ++i) {
        int status = cliUsage;
        const auto target = ParseCliTarget(options.positional[i], err, &status);
        if (!target)
            return status;
        const auto [known, added] = units.emplace(UnitKey(*target), targets.size());
        if (!added) {
            err << "dezadizi-cli: " << options.positional[known->second + 1] << " and "
                << options.positional[i] << " are one unit (" << known->first << "): give it once\n";
            return cliUsage;
        }
        targets.push_back(*target);
    }
    return std::nullopt;
}

// Written at the end: a report that would replace an input, or cannot be a file, is refused
// before any unit is touched.
bool ReportPathUsable(const TCliOptions& options, std::ostream& err) {
    const std::pair<const char*, std::string> inputs[] = {{"the settings file", options.positional[0]},
                                                          {"the per-unit values", options.perUnit},
                                                          {"the definition file", options.definitionFile}};
    for (const auto& [what, path] : inputs) {
        if (SameFile(options.report, path)) {
            err << "dezadizi-cli: --report " << options.report << " is " << what << " " << path
                << ": name another file for the report\n";
            return false;
        }
    }
    std::error_code error;
    const auto status = std::filesystem::status(options.report, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        err << "dezadizi-cli: --report " << options.report
            << " is not a regular file: name a file to write\n";
        return false;
    }
    return true;
}

// What can be told before any unit is reached: the file, the names to keep and the values
// given per unit (into `perUnit`, by target as given), checked against the file's device type.
// Gives the exit status to end with, or nothing to go on.
std::optional<int> CheckBeforeAnyUnit(const TCliOptions& options, const std::vector<TPortTarget>& targets,
                                      const std::map<std::string, size_t>& units, TPerUnitValues& perUnit,
                                      std::ostream& err) {
    const std::string& file = options.positional[0];
    try {
        TRegisterDataStore store;
        TDevices devices(store);
        devices.LoadFromFile(options.definitionFile);
        const auto [name, id] = SettingsFileDevice(file);
        TDevice* device = devices.DeviceById(id);
        if (device == nullptr || device->Name != name)
            throw TModelError("The settings file is for a device type the definition file does not hold: " +
                              name);
        try {
            for (const std::string& keep : options.keep)
                FindNamedSettings(*device->Settings, keep);
        } catch (const std::exception& e) {
            err << "dezadizi-cli: --keep: " << e.what() << "\n";
            return cliUsage;
        }
        if (!options.perUnit.empty()) {
            // Read once here, whatever it is (a pipe reads only once); the children get the rows.
            std::map<size_t, std::string> named; // target -> the row's spelling
            for (const auto& [text, values] : LoadPerUnitValues(options.perUnit)) {
                std::string error;
                const auto target = ParsePortTarget(text, &error);
                const auto unit = target ? units.find(UnitKey(*target)) : units.end();
                if (unit == units.end()) {
                    err << "dezadizi-cli: --per-unit: " << text << " is not one of the targets\n";
                    return cliUsage;
                }
                if (const auto [first, added] = named.emplace(unit->second, text); !added) {
                    err << "dezadizi-cli: --per-unit: " << first->second << " and " << text
                        << " are one unit (" << unit->first << "): give it one row\n";
                    return cliUsage;
                }
                for (const auto& value : values)
                    FindNamedSettings(*device->Settings, value.first);
                perUnit[TargetKey(targets[unit->second])] = values;
            }
        }
        // A kept value would be overwritten by a setting written on the same register bits.
        for (const TPortTarget& target : targets) {
            const auto own = perUnit.find(TargetKey(target));
            const std::string conflict = KeepConflict(
                *device->Settings, file, {options.byName, options.allowOutOfRange}, options.keep,
                own == perUnit.end() ? std::vector<std::pair<std::string, std::string>>{} : own->second);
            if (!conflict.empty()) {
                err << "dezadizi-cli: --keep on " << TargetKey(target) << ": " << conflict << "\n";
                return cliUsage;
            }
        }
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
    return std::nullopt;
}

// One child per line (however it is named), in the order the lines are first named, started
// with its targets and their rows of per-unit values.
std::vector<TPortRun> StartPortRuns(const TCliOptions& options, const std::vector<TPortTarget>& targets,
                                    const TPerUnitValues& perUnit) {
    const std::string& file = options.positional[0];
    std::vector<TPortRun> runs;
    for (const TPortTarget& target : targets) {
        auto run = std::find_if(runs.begin(), runs.end(), [&](const TPortRun& r) {
            return LineOf(r.targets.front()) == LineOf(target);
        });
        if (run == runs.end()) {
            runs.emplace_back();
            run = runs.end() - 1;
        }
        run->targets.push_back(target);
    }
    for (TPortRun& run : runs) {
        QStringList arguments{QString::fromLatin1(CommissionPortCommand), QString::fromStdString(file)};
        for (const TPortTarget& target : run.targets)
            arguments << QString::fromStdString(TargetKey(target));
        arguments << "-d" << QString::fromStdString(options.definitionFile);
        for (const std::string& keep : options.keep)
            arguments << "--keep" << QString::fromStdString(keep);
        TPerUnitValues rows;
        for (const TPortTarget& target : run.targets) {
            if (const auto own = perUnit.find(TargetKey(target)); own != perUnit.end())
                rows.insert(*own);
        }
        if (!rows.empty())
            arguments << "--per-unit"
                      << "-";
        if (options.dryRun)
            arguments << "--dry-run";
        if (options.byName)
            arguments << "--by-name";
        if (options.allowOutOfRange)
            arguments << "--allow-out-of-range";
        if (!options.timeout.empty())
            arguments << "--timeout" << QString::fromStdString(options.timeout);
        // The parent started the file; each child appends its lines to it.
        if (!options.trace.empty())
            arguments << "--trace" << QString::fromStdString(options.trace);
        // The child's warnings and errors reach standard error as objects too.
        if (options.json)
            arguments << "--json";
        run.process = std::make_unique<QProcess>();
        run.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.process->start(QCoreApplication::applicationFilePath(), arguments);
        if (!rows.empty())
            run.process->write(QByteArray::fromStdString(PerUnitValuesCsv(rows)));
        run.process->closeWriteChannel();
    }
    return runs;
}

// Tells each result as a child reports it, passing a stop on to the children, until all have
// ended. The results are keyed by target as TargetKey gives it.
// A unit's result as the engineer reads it, or as an object with --json.
void PrintUnitResult(const TCommissionResult& result, bool json, std::ostream& out) {
    if (json)
        out << JsonLine(JsonCommissionedUnit(result)) << std::flush;
    else
        out << CommissionResultText(result) << std::endl;
}

std::map<std::string, TCommissionResult> CollectResults(std::vector<TPortRun>& runs, bool json,
                                                        std::ostream& out) {
    std::map<std::string, TCommissionResult> results;
    bool forwarded = false;
    for (;;) {
        if (StopRequested() && !forwarded) {
            // Each unit stops as a stopped write does, by the signal the parent got; the
            // children report it.
            forwarded = true;
            for (TPortRun& run : runs) {
                if (run.process->state() == QProcess::Running)
                    ::kill(static_cast<pid_t>(run.process->processId()), StopSignal());
            }
        }
        bool running = false;
        for (TPortRun& run : runs) {
            const bool ended = run.process->state() == QProcess::NotRunning;
            run.pending += run.process->readAllStandardOutput().toStdString();
            for (size_t end = run.pending.find('\n'); end != std::string::npos;
                 end = run.pending.find('\n')) {
                const auto result = ParseCommissionResultLine(run.pending.substr(0, end));
                run.pending.erase(0, end + 1);
                if (!result)
                    continue;
                const std::string key = result->port + "@" + std::to_string(result->address);
                run.reported.insert(key);
                results[key] = *result;
                PrintUnitResult(*result, json, out);
            }
            running = running || !ended;
        }
        if (!running)
            break;
        QTimer tick;
        tick.setSingleShot(true);
        tick.start(50);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return results;
}

// A result for each unit a child ended without a word for.
void AddMissingResults(const std::vector<TPortRun>& runs, std::map<std::string, TCommissionResult>& results,
                       bool json, std::ostream& out) {
    for (const TPortRun& run : runs) {
        for (const TPortTarget& target : run.targets) {
            const std::string key = TargetKey(target);
            if (results.count(key) != 0)
                continue;
            // A child that ended without a word for this unit.
            TCommissionResult missing;
            missing.port = target.name;
            missing.address = target.address;
            missing.outcome = StopRequested() ? TOutcome::Stopped : TOutcome::Failed;
            missing.message = run.process->error() == QProcess::FailedToStart
                                  ? "Cannot start " + QCoreApplication::applicationFilePath().toStdString()
                                  : "The run on " + target.name + " ended before this unit";
            results[key] = missing;
            PrintUnitResult(missing, json, out);
        }
    }
}

// The report in the order the targets were given, written when asked for, and the run's exit status.
int FinishCommission(const TCliOptions& options, const std::vector<TPortTarget>& targets,
                     std::map<std::string, TCommissionResult>& results, std::ostream& err) {
    std::vector<TCommissionResult> report;
    for (const TPortTarget& target : targets)
        report.push_back(results[TargetKey(target)]);
    if (!options.report.empty()) {
        try {
            SaveFileContent(options.report, CommissionReportCsv(report));
        } catch (const std::exception& e) {
            err << e.what() << "\n";
            return cliFailed;
        }
    }
    switch (SiteStatus(report, options.dryRun)) {
    case TSiteStatus::Done:
        return cliOk;
    case TSiteStatus::Unconfirmed:
        return cliUnconfirmed;
    case TSiteStatus::Stopped:
        return StopExitStatus();
    default:
        return cliFailed;
    }
}
} // namespace

int CliCommissionPort(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() < 2)
        return cliUsage;
    KeepCliInterruptHandler();
#ifdef __linux__
    // A commissioning run killed outright stops this line as a stop signal would, instead of
    // leaving it to write its units unattended.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    std::pair<std::string, int32_t> fileDevice;
    TPerUnitValues perUnit;
    try {
        fileDevice = SettingsFileDevice(options.positional[0]);
        // "-": the rows the commissioning run read for this line, on standard input.
        if (options.perUnit == "-")
            perUnit = ParsePerUnitValues(ReadPerUnitText(std::cin, "-"), "-");
        else if (!options.perUnit.empty())
            perUnit = LoadPerUnitValues(options.perUnit);
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
    auto link = TakeCliLink(options, err);
    if (!link)
        return cliUsage;
    if (!OpenCliTrace(options, *link, false, err))
        return cliFailed;
    // The units behind one gateway go one after another over its one connection.
    TCliGatewayConnections connections;
    link->connections = &connections;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> own;
    for (const auto& [text, values] : perUnit) {
        if (const auto target = ParsePortTarget(text))
            own[TargetKey(*target)] = values;
    }
    for (size_t i = 1; i < options.positional.size(); ++i) {
        int status = cliUsage;
        const auto target = ParseCliTarget(options.positional[i], err, &status);
        if (!target)
            return status;
        const TCommissionResult result =
            CommissionUnit(options, *target, fileDevice, own[TargetKey(*target)], *link, err);
        out << CommissionResultLine(result) << std::endl;
    }
    return cliOk;
}

int CliCommission(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() < 2 || !options.output.empty() || options.csv || options.all ||
        options.noVerify || !options.from.empty() || !options.to.empty()) {
        err << CommissionUsage;
        return cliUsage;
    }
    std::vector<TPortTarget> targets;
    // Each unit by the device and address it resolves to, with the spelling that named it.
    std::map<std::string, size_t> units;
    if (!TakeCliLink(options, err))
        return cliUsage;
    if (const auto status = CommissionTargets(options, err, targets, units))
        return *status;
    if (!options.report.empty() && !ReportPathUsable(options, err))
        return cliUsage;
    TPerUnitValues perUnit; // by target as given
    if (const auto status = CheckBeforeAnyUnit(options, targets, units, perUnit, err))
        return *status;
    if (TCliLink trace; !OpenCliTrace(options, trace, true, err))
        return cliFailed;

    // The parent stays to the end whatever stops it: it passes the stop on and reads every child's
    // last words (a child writing to a parent gone would die of SIGPIPE between two units).
    const TStopSignals stopSignals;
    std::vector<TPortRun> runs = StartPortRuns(options, targets, perUnit);
    std::map<std::string, TCommissionResult> results = CollectResults(runs, options.json, out);
    AddMissingResults(runs, results, options.json, out);
    return FinishCommission(options, targets, results, err);
}
