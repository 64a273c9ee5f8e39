#include "CliOnline.h"

#include "CliOffline.h"
#include "base/Errors.h"
#include "base/Usersettingskeys.h"
#include "definitions/Devices.h"
#include "features/Compare.h"
#include "features/History.h"
#include "features/Jsonlines.h"
#include "features/Outcome.h"
#include "link/Devicelist.h"
#include "link/Runprogress.h"
#include "link/Serialmanager.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Registerdatastore.h"
#include "modbus/SerialPort.h"
#include "modbus/Tracefile.h"
#include "settings/Settings.h"

#include "Stopsignals.h"

#include <QFile>
#include <QJsonObject>
#include <QSettings>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <unistd.h>

namespace {

// How long a wait for the workers' reports goes before it looks for a stop signal again: a
// handler may only set a flag, which wakes no one.
constexpr std::chrono::milliseconds StopCheck{100};

// Why the user settings could not be stored: QSettings gives only a status, so the folder and
// the file are tried here for the system's own reason.
std::string SaveFailure(const QSettings& settings) {
    const QString file = settings.fileName();
    std::string reason = settings.status() == QSettings::FormatError ? "its content is not understood"
                                                                     : "it cannot be written";
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(file.toStdString()).parent_path();
    if (!std::filesystem::create_directories(folder, error) && error) {
        reason = error.message();
    } else {
        QFile probe(file);
        if (!probe.open(QIODevice::Append))
            reason = probe.errorString().toStdString();
    }
    return "Cannot save the comm port mapping in \"" + file.toStdString() + "\": " + reason;
}

// A progress bar on a terminal; nothing when standard error is a file or a pipe.
class TProgressBar {
public:
    TProgressBar(std::ostream& err, bool enabled) : FErr(err), FEnabled(enabled) {}
    void Start(const std::string& what, int32_t total) {
        FWhat = what;
        FTotal = total;
        FDone = 0;
        Draw();
    }
    void Show(int32_t done) {
        FDone = std::min(FTotal, done);
        Draw();
    }
    void Finish() {
        if (FEnabled && FTotal >= 0)
            FErr << "\n";
        FTotal = -1;
    }

private:
    void Draw() {
        if (!FEnabled || FTotal < 0)
            return;
        constexpr int Width = 40;
        const int filled =
            FTotal > 0 ? static_cast<int>(static_cast<int64_t>(FDone) * Width / FTotal) : Width;
        FErr << "\r" << FWhat << " [" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(Width - filled), ' ') << "] " << FDone << "/" << FTotal
             << std::flush;
    }
    std::ostream& FErr;
    bool FEnabled;
    std::string FWhat;
    int32_t FTotal = -1;
    int32_t FDone = 0;
};

// A stop signal: the run in progress ends after its exchange; nothing more is sent, no commit is made.
void StopStore(void* store) {
    static_cast<TRegisterDataStore*>(store)->RequestStop();
}

class TCliStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exceptions 10 and 11, or silence (a transparent gateway passes no exception on), in the words
// of a user who named the unit behind the gateway.
std::string NoUnitBehindGateway(const TGatewayMaster& gateway, int32_t address) {
    const int32_t code = gateway.LastCode();
    const std::string why = code == FTALK_MBUS_GATEWAY_PATH_UNAVAILABLE_RESPONSE
                                ? " (gateway exception 10: the gateway path is unavailable)."
                            : code == FTALK_REPLY_TIMEOUT_ERROR
                                ? " (no reply within " + std::to_string(gateway.Timeout()) + " ms)."
                                : " (gateway exception 11: the target device failed to respond).";
    return "No unit answers at address " + std::to_string(address) + " behind gateway " +
           gateway.GatewayAddress() + why;
}

// The serial master of each port opened, reporting to the trace file when there is one.
TSerialManager::TProtocolFactory SerialMasters(const std::shared_ptr<TTraceFile>& trace) {
    if (!trace)
        return {};
    return [sink = trace.get()] {
        auto master = std::make_unique<MbusRtuMasterProtocol>();
        master->SetTrafficSink(sink);
        return master;
    };
}

// One online session: the unit found on a port, its device type connected, its settings read
// into the store of the catalogue `devices`.
class TOnlineSession {
public:
    TOnlineSession(const TDevices& devices, const TCliLink& link, std::ostream& err)
        : FErr(err), FBar(err, isatty(STDERR_FILENO) != 0), FLink(link), FStore(devices.Store()),
          FManager(&FStore, SerialMasters(link.trace)) {
        // This thread takes the reports in its own waits.
        FManager.ProcessReportsInOwnLoop();
        FManager.SetReplyTimeout(link.replyTimeoutMs);
        FStore.OnProgress = [this](TRegisterDataStore* store, const std::string& text, bool error,
                                   int32_t inc) {
            // Called on the worker under the device-list lock: decide and report only.
            FManager.Reports().Post(TProgressReport{FProgress.Report(*store, text, error, inc)});
        };
        FManager.DeviceList()->OnBeginRead = [this] {
            const int32_t total = FStore.TotalCount();
            FProgress.Begin(total, false);
            FManager.Reports().Post(TBeginReadReport{total});
        };
    }
    ~TOnlineSession() {
        if (FDevice != nullptr)
            FManager.DisconnectDevice(FDevice);
        // The store outlives the session; its reports must not reach a session gone.
        FStore.OnProgress = nullptr;
    }

    // Finds the unit and connects its device type; raises with the message to print.
    TDevice* Connect(const TDevices& devices, const TPortTarget& port) {
        if (IsGateway(port)) {
            // The session holds the connection, to tell why a search found nothing.
            if (FLink.connections != nullptr)
                FGateway = FLink.connections->For(port);
            if (!FGateway)
                FGateway = MakeGatewayMaster(port);
            FGateway->SetTrafficSink(FLink.trace.get());
            FManager.MapPort(port.port, port, FGateway);
        } else {
            FManager.MapPort(port.port, port.name);
        }
        std::optional<std::pair<int32_t, bool>> result;
        try {
            FManager.SearchForDevice(port.port, port.address,
                                     [&result](TSerialThread*, int32_t id, bool found) {
                                         result = {id, found};
                                     });
        } catch (const std::exception& e) {
            throw TModelError(std::string("Failed to connect, please check connections and settings\n") +
                              e.what());
        }
        // A stop ends a search at once: nothing has been read, so there is nothing to stop later.
        WaitUntil([&result] { return result.has_value() || StopRequested(); });
        if (StopRequested()) {
            FManager.WithdrawSearch(port.port);
            throw TCliStopped("Search stopped.");
        }
        if (FGateway && !result->second) {
            if (GatewayFoundNoUnit(FGateway->LastCode()) || FGateway->LastCode() == FTALK_REPLY_TIMEOUT_ERROR)
                throw TCliNoUnit(NoUnitBehindGateway(*FGateway, port.address));
            const std::string reason = FGateway->LastErrorText();
            if (!reason.empty())
                throw TModelError("Failed to connect, please check connections and settings\n" + reason);
        }
        if (result->first == 0 && FGateway) {
            throw TCliNoUnit("Could not find a device at address '" + std::to_string(port.address) +
                             "' behind gateway '" + FGateway->GatewayAddress() +
                             "'\n\nPlease ensure the device is connected to the gateway's serial bus,\n"
                             "you have chosen the correct gateway and address,\nand the gateway's serial "
                             "options are set correctly");
        }
        if (result->first == 0) {
            throw TCliNoUnit(
                "Could not find a device attached to comm port '" + std::to_string(port.port) +
                "' address '" + std::to_string(port.address) +
                "'\n\nPlease ensure the device is connected to the serial bus, \nyou have chosen the "
                "correct comm port and address,\nand the serial options are set correctly");
        }
        if (!result->second)
            throw TCliNoUnit("Failed to connect, please check connections and settings");
        TDevice* device = nullptr;
        try {
            device = devices.DeviceById(result->first);
        } catch (const TModelError& e) {
            throw TCliUnknownDevice(e.what(), result->first);
        }
        FDevice = device;
        FRoot = devices.Document->document_element();
        FPort = port.name;
        FAddress = port.address;
        FManager.ConnectFoundUnit(device, port.port, port.address);
        return device;
    }

    // Waits for the read run that connecting started; raises with the failing block's text.
    void AwaitRead() {
        FBar.Start("Reading", 0);
        const TProgressOutcome end = AwaitRun();
        if (end.Stopped)
            throw TCliStopped(end.Text);
        if (StopRequested())
            throw TCliStopped("Read stopped.");
        FManager.DeviceList()->TakeValuesFromStore();
    }

    // Sends what differs from the unit (all with `all`), commits and verifies; raises with the
    // failing block's text. Returns what to tell the user. The run is recorded, with
    // `settingsFile` as the file loaded; what cannot be recorded is a warning.
    // With `unit`, the backup and the warnings go there instead of standard error.
    TRunEnd Write(TSettings& tree, bool all, bool verify, const std::string& settingsFile = {},
                  TUnitSession* unit = nullptr) {
        // What the last run still reported is over: dropped.
        FManager.OnReport = nullptr;
        FManager.ProcessReports();
        const auto warn = [this, unit](const std::string& warning) {
            if (warning.empty())
                return;
            if (unit != nullptr)
                unit->recordWarnings.push_back(warning);
            else
                FErr << "warning: " << warning << "\n";
        };
        std::string unreadable;
        // A run before this one may have left the unit holding values it was never told to save.
        if (RecordSaysCommitOwed(HistoryPath(), FPort, FAddress, FDevice->DeviceId, unreadable))
            FStore.OweCommit();
        if (!unreadable.empty())
            warn(FPort + "@" + std::to_string(FAddress) +
                 ": cannot tell whether the last run left a save command owed: " + unreadable);
        TWriteRecord record(*FDevice, FRoot, FStore, FPort, FAddress, settingsFile);
        warn(record.Warning());
        TRunStart start = TRunStart::Busy;
        {
            TStoreLock lock(FStore.Lock()); // the worker steps the image under it
            start = FProgress.BeginWrite(FStore, {!all, verify});
        }
        if (start == TRunStart::Busy) {
            warn(record.Finish(FStore));
            throw TModelError(TRegisterDataStore::RunStartText(start));
        }
        if (start == TRunStart::Started) {
            FBar.Start("Writing", FProgress.Total());
            try {
                AwaitRun();
            } catch (...) {
                warn(record.Finish(FStore));
                throw;
            }
        }
        warn(record.Finish(FStore));
        if (unit != nullptr)
            unit->backup = record.Entry().Backup;
        return DescribeWrite(tree, FStore, verify);
    }

    TRegisterDataStore& Store() { return FStore; }

private:
    // Takes the workers' reports on this thread until `done`. The runs themselves bound the
    // wait (every request has its time-out); a stop is a flag, looked at every StopCheck.
    void WaitUntil(const std::function<bool()>& done) {
        while (!done()) {
            FManager.Reports().WaitUntil(std::chrono::steady_clock::now() + StopCheck);
            FManager.ProcessReports();
        }
    }

    // Shows the run's reports until the one that ends it, and returns that one; raises with
    // the failing block's text when the run fails.
    TProgressOutcome AwaitRun() {
        std::optional<TProgressOutcome> end;
        FManager.OnReport = [this, &end](const TWorkerReport& report) {
            // What follows the end in the same drain belongs to no run any more.
            if (end)
                return;
            if (const auto* begin = std::get_if<TBeginReadReport>(&report.Value)) {
                FBar.Start("Reading", begin->Total);
                return;
            }
            const auto* progress = std::get_if<TProgressReport>(&report.Value);
            if (progress == nullptr || progress->Outcome.Stray)
                return;
            FBar.Show(progress->Outcome.Position);
            if (progress->Outcome.Finished)
                end = progress->Outcome;
        };
        WaitUntil([&end] { return end.has_value(); });
        FManager.OnReport = nullptr;
        FBar.Finish();
        if (end->Failed)
            throw TModelError(end->FailMessage);
        return *end;
    }

    std::ostream& FErr;
    TProgressBar FBar;
    const TCliLink FLink;
    TStopSignals FStopSignals;
    TRegisterDataStore& FStore;
    TStopHookScope FStopHook{{StopStore, &FStore}};
    // Before the manager, whose worker uses it until the manager has gone.
    std::shared_ptr<TGatewayMaster> FGateway;
    TSerialManager FManager;
    TDevice* FDevice = nullptr;
    pugi::xml_node FRoot;
    std::string FPort;
    int32_t FAddress = 1;
    TProgressTracker FProgress;
};

} // namespace

int CliRead(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 1 || (options.output.empty() && !options.json)) {
        err << "usage: dezadizi-cli read PORT -o OUT [-d FILE] [--timeout MS] [--json]\n";
        return cliUsage;
    }
    auto link = TakeCliLink(options, err);
    if (!link)
        return cliUsage;
    int status = cliUsage;
    const auto target = ParseCliTarget(options.positional[0], err, &status);
    if (!target)
        return status;
    if (!OpenCliTrace(options, *link, true, err))
        return cliFailed;
    try {
        TRegisterDataStore store;
        TDevices devices(store);
        devices.LoadFromFile(options.definitionFile);
        TOnlineSession session(devices, *link, err);
        TDevice* device = session.Connect(devices, *target);
        session.AwaitRead();
        PrintWarnings(device->Settings->ReadWarnings, err);
        if (options.json) {
            if (!options.output.empty())
                SaveCliOutput(*device->Settings, options.output, out);
            PrintJson(JsonSettings(*device->Settings, true), out);
            return cliOk;
        }
        SaveCliOutput(*device->Settings, options.output, out);
        // Standard output holds the file itself when OUT is "-".
        (options.output == "-" ? err : out) << "Read " << device->Name << " into " << options.output << "\n";
        return cliOk;
    } catch (const TCliStopped& e) {
        err << e.what() << "\n";
        return StopExitStatus();
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
}

void WithUnitRead(const TDevices& devices, const TPortTarget& port, const TCliLink& link, std::ostream& err,
                  const std::function<void(TDevice&)>& use) {
    TOnlineSession session(devices, link, err);
    TDevice* device = session.Connect(devices, port);
    session.AwaitRead();
    PrintWarnings(device->Settings->ReadWarnings, err);
    use(*device);
}

void WithUnitSession(const TDevices& devices, const TPortTarget& port, const TCliLink& link,
                     const std::string& settingsFile, std::ostream& err,
                     const std::function<void(TUnitSession&)>& use) {
    WithUnitSession(devices, port, link, settingsFile, err, {}, use);
}

void WithUnitSession(const TDevices& devices, const TPortTarget& port, const TCliLink& link,
                     const std::string& settingsFile, std::ostream& err,
                     const std::function<void(const TDevice&)>& identified,
                     const std::function<void(TUnitSession&)>& use) {
    TOnlineSession session(devices, link, err);
    TDevice* device = session.Connect(devices, port);
    if (identified)
        identified(*device);
    session.AwaitRead();
    PrintWarnings(device->Settings->ReadWarnings, err);
    TUnitSession unit{*device, session.Store(), {}, {}, {}};
    unit.write = [&](bool all, bool verify) {
        return session.Write(*device->Settings, all, verify, settingsFile, &unit);
    };
    use(unit);
}

std::optional<TPortTarget> ParseCliTarget(const std::string& text, std::ostream& err, int* status) {
    std::string error;
    auto target = ParsePortTarget(text, &error);
    if (target)
        return target;
    // A bad address or a bad gateway is a usage error; a name that is no comm port fails as
    // opening it would.
    const size_t at = text.rfind('@');
    const bool badAddress = at != std::string::npos && ParsePortTarget(text.substr(0, at));
    const QString lower = QString::fromStdString(text).toLower();
    const bool badGateway =
        lower.startsWith(QLatin1String("tcp://")) || lower.startsWith(QLatin1String("rtu+tcp://"));
    *status = badAddress || badGateway ? cliUsage : cliFailed;
    err << (badAddress || badGateway ? "dezadizi-cli: " : "") << error << "\n";
    return std::nullopt;
}

std::optional<TCliLink> TakeCliLink(const TCliOptions& options, std::ostream& err) {
    TCliLink link;
    if (options.timeout.empty())
        return link;
    bool ok = false;
    const int value = QString::fromStdString(options.timeout).toInt(&ok, 10);
    if (!ok || value <= 0) {
        err << "dezadizi-cli: --timeout takes the reply time-out in milliseconds, above 0: "
            << options.timeout << "\n";
        return std::nullopt;
    }
    link.replyTimeoutMs = value;
    return link;
}

bool OpenCliTrace(const TCliOptions& options, TCliLink& link, bool fresh, std::ostream& err) {
    if (options.trace.empty())
        return true;
    auto trace = std::make_shared<TTraceFile>();
    const std::string failure = trace->Open(options.trace, fresh);
    if (!failure.empty()) {
        err << "Cannot open the trace file " << failure << "\n";
        return false;
    }
    link.trace = trace;
    return true;
}

std::shared_ptr<TGatewayMaster> TCliGatewayConnections::For(const TPortTarget& target) {
    std::shared_ptr<TGatewayMaster>& connection = FConnections[GatewayText(target)];
    if (!connection)
        connection = MakeGatewayMaster(target);
    return connection;
}

bool CliStopRequested() {
    return StopRequested();
}

void KeepCliInterruptHandler() {
    InstallStopSignals();
}

int CliWrite(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 2 || !options.output.empty()) {
        err << "usage: dezadizi-cli write PORT IN [-d FILE] [--by-name] [--allow-out-of-range] [--all] "
               "[--no-verify] [--timeout MS]\n";
        return cliUsage;
    }
    auto link = TakeCliLink(options, err);
    if (!link)
        return cliUsage;
    int status = cliUsage;
    const auto target = ParseCliTarget(options.positional[0], err, &status);
    if (!target)
        return status;
    if (!OpenCliTrace(options, *link, true, err))
        return cliFailed;
    try {
        TRegisterDataStore image;
        TDevices devices(image);
        devices.LoadFromFile(options.definitionFile);
        TOnlineSession session(devices, *link, err);
        TDevice* device = session.Connect(devices, *target);
        session.AwaitRead();
        LoadCliSettingsFile(*device->Settings, options.positional[1], options, err);
        // Taken before the run: after a mismatch the tree holds what the unit kept instead.
        std::vector<QJsonObject> changes;
        if (options.json) {
            for (const TDifference& change :
                 UnitChanges(*device->Settings, devices.Document->document_element()))
                changes.push_back(JsonChange(*device->Settings, change));
        }
        const TRunEnd end =
            session.Write(*device->Settings, options.all, !options.noVerify, options.positional[1]);
        if (end.Outcome == TOutcome::Stopped) {
            err << end.Message << "\n";
            return StopExitStatus();
        }
        if (end.Kind == TMessageKind::Error) {
            for (const std::string& line : end.Differences)
                err << line << "\n";
            return end.ExitStatus;
        }
        if (options.json) {
            PrintJson(changes, out);
            out << JsonLine(JsonWriteResult(end));
            // Not an error: what is left to do about a write that went out.
            if (!end.Note.empty())
                err << "warning: " << end.Note << "\n";
            return end.ExitStatus;
        }
        out << end.Message << "\n";
        if (!end.Note.empty())
            err << end.Note << "\n";
        return end.ExitStatus;
    } catch (const TCliStopped& e) {
        err << e.what() << "\n";
        return StopExitStatus();
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
}

int CliPorts(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    const auto& args = options.positional;
    QSettings settings(UserSettings::Organization, UserSettings::Application);
    const auto key = [](const std::string& com) {
        return UserSettings::PortKey(QString::fromStdString(com));
    };
    const auto comName = [&err](const std::string& text) -> std::optional<std::string> {
        const auto port = ParsePortTarget(text);
        if (!port || port->kind != TPortKind::ComPort || port->addressGiven) {
            err << "dezadizi-cli: not a comm port name: " << text << "\n";
            return std::nullopt;
        }
        return port->name;
    };
    if (args.empty()) {
        for (int n = 1; n <= ComPortCount; ++n) {
            const std::string com = ComPortName(n);
            const bool mapped = settings.contains(key(com));
            if (options.json)
                out << JsonLine(JsonPort(com, SerialPort::ResolvePortName(com), !mapped));
            else
                out << com << '\t' << SerialPort::ResolvePortName(com) << (mapped ? "" : "\t(default)")
                    << '\n';
        }
        return cliOk;
    }
    if (args[0] == "set" && args.size() == 3) {
        const auto com = comName(args[1]);
        if (!com)
            return cliUsage;
        settings.setValue(key(*com), QString::fromStdString(args[2]));
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            err << SaveFailure(settings) << "\n";
            return cliFailed;
        }
        if (options.json)
            out << JsonLine(JsonPort(*com, args[2], false));
        else
            out << *com << '\t' << args[2] << '\n';
        return cliOk;
    }
    if (args[0] == "clear" && args.size() == 2) {
        const auto com = comName(args[1]);
        if (!com)
            return cliUsage;
        settings.remove(key(*com));
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            err << SaveFailure(settings) << "\n";
            return cliFailed;
        }
        return cliOk;
    }
    err << "usage: dezadizi-cli ports [set COMn PATH | clear COMn]\n";
    return cliUsage;
}
