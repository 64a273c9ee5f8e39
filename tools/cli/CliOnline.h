#pragma once
// The online commands of dezadizi-cli: they use the same serial manager, workers and register
// data store as the window, with this thread servicing the workers' hand-overs.
#include "Cli.h"

#include "base/Errors.h"
#include "features/Outcome.h"
#include "features/Writesummary.h"
#include "modbus/Porttarget.h"
#include "settings/Settings.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>

class TGatewayMaster;
class TTraceFile;
class TDevice;
class TDevices;
class TRegisterDataStore;

// No unit answered at the address searched (or the line carries no Modbus at all).
class TCliNoUnit : public TModelError {
public:
    using TModelError::TModelError;
};

// A unit answered with a device id the definition file does not hold.
class TCliUnknownDevice : public TModelError {
public:
    TCliUnknownDevice(const std::string& message, int32_t deviceId)
        : TModelError(message), DeviceId(deviceId) {}
    int32_t DeviceId;
};

// A unit found and read by an online session, for a command that goes on to write it.
struct TUnitSession {
    TDevice& device;
    const TRegisterDataStore& store;
    // The write of "write": what differs from the unit (everything with `all`), the commit, and
    // the read-back unless not `verify`. Returns what to tell the user.
    std::function<TRunEnd(bool all, bool verify)> write;
    // After the write: the backup the record saved ("" for none), and what could not be saved
    // or recorded, which `write` then leaves to the caller to show.
    std::string backup;
    std::vector<std::string> recordWarnings;
};

// Gateways' connections kept open from one unit's session to the next, so the units behind a
// gateway are reached one after another over one connection.
class TCliGatewayConnections {
public:
    TCliGatewayConnections() = default;
    TCliGatewayConnections(const TCliGatewayConnections&) = delete;
    TCliGatewayConnections& operator=(const TCliGatewayConnections&) = delete;
    // The connection to `target`'s gateway, made (not opened) on first use.
    std::shared_ptr<TGatewayMaster> For(const TPortTarget& target);

private:
    std::map<std::string, std::shared_ptr<TGatewayMaster>> FConnections;
};
// How one command's sessions reach their units: the reply time-out --timeout gave (0: each
// master keeps its own) and, where a command goes from unit to unit, the gateways' connections
// it keeps open (none: each session makes its own).
struct TCliLink {
    int32_t replyTimeoutMs = 0;
    TCliGatewayConnections* connections = nullptr;
    // --trace FILE: every frame of the sessions' masters; none without the option.
    std::shared_ptr<TTraceFile> trace;
};
// "read PORT -o OUT": search PORT for the unit, read every setting, save or export OUT.
int CliRead(const TCliOptions& options, std::ostream& out, std::ostream& err);
// "write PORT IN": search PORT, read the unit, load IN over it, write every setting and commit.
int CliWrite(const TCliOptions& options, std::ostream& out, std::ostream& err);
// Finds the unit on PORT, reads every setting, and hands its device type, holding the unit's
// values, to `use` while the session still stands. Raises with the message to print.
void WithUnitRead(const TDevices& devices, const TPortTarget& port, const TCliLink& link, std::ostream& err,
                  const std::function<void(TDevice&)>& use);
// The same, handing over the session's write too, which records `settingsFile` as the file
// written. A stop (Ctrl-C, SIGTERM, SIGHUP) during the read raises.
void WithUnitSession(const TDevices& devices, const TPortTarget& port, const TCliLink& link,
                     const std::string& settingsFile, std::ostream& err,
                     const std::function<void(TUnitSession&)>& use);
// The same; `identified` learns the device type as soon as the unit answers, before the read.
void WithUnitSession(const TDevices& devices, const TPortTarget& port, const TCliLink& link,
                     const std::string& settingsFile, std::ostream& err,
                     const std::function<void(const TDevice&)>& identified,
                     const std::function<void(TUnitSession&)>& use);
// PORT or PORT@ADDR as a command takes it; nothing, after a message on err, when it is neither,
// with `status` the exit status to give: 2 for a bad address, 1 for a name that is no comm port.
std::optional<TPortTarget> ParseCliTarget(const std::string& text, std::ostream& err, int* status);
// "--timeout MS" taken into a link; nothing, after a message on err, for anything but a number
// of milliseconds above 0.
std::optional<TCliLink> TakeCliLink(const TCliOptions& options, std::ostream& err);
// --trace FILE opened into `link`; `fresh` empties the file first (a commissioning run's children
// append to the file their parent started). True without the option; false after telling on err
// which file could not be opened and why.
bool OpenCliTrace(const TCliOptions& options, TCliLink& link, bool fresh, std::ostream& err);
// Whether a stop signal (SIGINT, SIGTERM, SIGHUP) was received.
bool CliStopRequested();
// A stop signal stops the run in progress and leaves the process running, between sessions too.
void KeepCliInterruptHandler();
// "ports", "ports set COMn PATH", "ports clear COMn": the comm port mapping of the user settings.
int CliPorts(const TCliOptions& options, std::ostream& out, std::ostream& err);
