// dezadizi-sim: a simulated unit. A Modbus RTU slave (address 1, or the --slave addresses) on a
// pseudo-terminal that it creates and publishes as a comm port, so the configuration manager can
// connect to it as it would to a unit on a real line; several --slave options put several units,
// each with its own image, on that one line. With --listen the units are reached through a
// simulated network gateway instead.
#include "SimDefaults.h"
#include "SimGateway.h"
#include "SimPort.h"
#include "SimUnit.h"
#include "Stopsignals.h"
#include "Version.h"
#include "base/Usersettingskeys.h"
#include "definitions/Definitionfile.h"
#include "definitions/Devices.h"
#include "modbus/Porttarget.h"
#include "modbus/Registerdatastore.h"
#include "modbus/Tracefile.h"
#include "modbus/Unitmap.h"
#include "settings/Device.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// A stop signal wakes the line's wait through a pipe; `writeEnd` points at the pipe's write end.
void WakeLine(void* writeEnd) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(*static_cast<const int*>(writeEnd), &byte, 1);
}

int Fail(const std::string& message) {
    std::cerr << "dezadizi-sim: " << message << std::endl;
    return 1;
}

// The device type named in the definition file, from a catalogue the caller keeps.
TDevice* DeviceByName(TDevices& devices, const std::string& definitions, const std::string& name,
                      std::string* error) {
    try {
        devices.LoadFromFile(definitions);
    } catch (const std::exception& e) {
        *error = e.what();
        return nullptr;
    }
    for (const auto& device : devices.Devices) {
        if (device->Name == name)
            return device.get();
    }
    *error = "no device type named \"" + name + "\" in " + definitions;
    return nullptr;
}

// One unit on the line: its address and its own --device, --device-id and --state.
struct TSlaveOptions {
    int address = TSimUnit::DefaultAddress;
    QString device;
    QString deviceId;
    std::string state;
};

// The units to serve, from the arguments in their order: each --slave starts a unit, and the
// --device, --device-id and --state after it are its own. Those given before the first --slave
// belong to the first unit; a unit without a device type of its own reports the first's.
bool SlaveOptions(const QStringList& arguments, std::vector<TSlaveOptions>* slaves, std::string* error) {
    TSlaveOptions first;
    bool anySlave = false;
    TSlaveOptions* current = &first;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[i + 1];
        }
        const bool ours = name == QLatin1String("--slave") || name == QLatin1String("--device") ||
                          name == QLatin1String("--device-id") || name == QLatin1String("--state");
        if (!ours)
            continue;
        if (equals <= 0)
            ++i;
        if (name == QLatin1String("--slave")) {
            bool ok = false;
            const int address = value.toInt(&ok, 10);
            if (!ok || address < Unitmap::MinSlaveAddress || address > Unitmap::MaxSlaveAddress)
                return *error = "--slave takes an address from 1 to 247", false;
            for (const TSlaveOptions& other : *slaves) {
                if (other.address == address)
                    return *error = "--slave " + std::to_string(address) + " is given twice", false;
            }
            if (!anySlave) {
                first.address = address;
                slaves->push_back(first);
            } else {
                slaves->push_back(TSlaveOptions{address, {}, {}, {}});
            }
            anySlave = true;
            current = &slaves->back();
        } else if (name == QLatin1String("--device")) {
            current->device = value;
            current->deviceId.clear();
        } else if (name == QLatin1String("--device-id")) {
            current->deviceId = value;
            current->device.clear();
        } else {
            current->state = value.toStdString();
        }
    }
    if (!anySlave)
        slaves->push_back(first);
    for (TSlaveOptions& slave : *slaves) {
        if (slave.device.isEmpty() && slave.deviceId.isEmpty()) {
            slave.device = slaves->front().device;
            slave.deviceId = slaves->front().deviceId;
        }
    }
    return true;
}

// The command line's options, for the functions that read them.
struct TSimOptions {
    QCommandLineOption portOption{QStringLiteral("port"), QStringLiteral("Comm port name to publish."),
                                  QStringLiteral("COMn"), QStringLiteral("COM1")};
    QCommandLineOption linkOption{QStringLiteral("link"), QStringLiteral("Also make a symbolic link here."),
                                  QStringLiteral("path")};
    QCommandLineOption deviceIdOption{QStringLiteral("device-id"),
                                      QStringLiteral("Device id in input register 4."), QStringLiteral("n")};
    QCommandLineOption deviceOption{
        QStringLiteral("device"), QStringLiteral("Device type whose id to report."), QStringLiteral("name")};
    QCommandLineOption definitionsOption{
        QStringList{QStringLiteral("d"), QStringLiteral("devices")},
        QStringLiteral("Device definition file (default: found as the window finds it)."),
        QStringLiteral("file")};
    QCommandLineOption stateOption{QStringLiteral("state"),
                                   QStringLiteral("Keep the coils and registers in this file across runs."),
                                   QStringLiteral("file")};
    QCommandLineOption blankOption{
        QStringLiteral("blank"),
        QStringLiteral("Start with coils and registers at zero, not the device type's factory defaults.")};
    QCommandLineOption wireSpeedOption{
        QStringLiteral("wire-speed"),
        QStringLiteral("Pace every byte as a 9600-baud 8N1 line would (behind a gateway: its line).")};
    QCommandLineOption faultOption{QStringLiteral("fault"),
                                   QStringLiteral("Inject a fault into this share of replies (0 to 1)."),
                                   QStringLiteral("kind=rate")};
    QCommandLineOption faultAtOption{
        QStringLiteral("fault-at"),
        QStringLiteral("Inject a fault into the reply to request n only (counted from 1)."),
        QStringLiteral("kind=n")};
    QCommandLineOption slowOption{QStringLiteral("slow-ms"),
                                  QStringLiteral("Delay of a slow reply (default 1500)."),
                                  QStringLiteral("ms"), QStringLiteral("1500")};
    QCommandLineOption faultAfterOption{
        QStringLiteral("fault-after"),
        QStringLiteral("Answer the first n requests without faults (default 0)."), QStringLiteral("n"),
        QStringLiteral("0")};
    QCommandLineOption seedOption{QStringLiteral("seed"), QStringLiteral("Seed of the fault rolls."),
                                  QStringLiteral("n")};
    QCommandLineOption verboseOption{QStringLiteral("verbose"), QStringLiteral("Log every request.")};
    QCommandLineOption silentCommitOption{
        QStringLiteral("silent-commit"),
        QStringLiteral("Carry out the commit of a write run but never answer it.")};
    QCommandLineOption clampOption{
        QStringLiteral("clamp"),
        QStringLiteral("Holding register REG (from 1) stores at most MAX, whatever it is sent."),
        QStringLiteral("REG:MAX")};
    QCommandLineOption slaveOption{
        QStringLiteral("slave"),
        QStringLiteral("Answer this slave address (default 1). Repeat it to serve several units on the line, "
                       "each followed by its own --device, --device-id and --state."),
        QStringLiteral("n")};
    QCommandLineOption tcpOption{
        QStringLiteral("tcp"),
        QStringLiteral("Serve the units behind a Modbus TCP gateway on this port (0: a free one)."),
        QStringLiteral("port")};
    QCommandLineOption rtuTcpOption{
        QStringLiteral("rtu-tcp"),
        QStringLiteral("Serve the units behind a gateway passing RTU frames over TCP on this port (0: a free "
                       "one)."),
        QStringLiteral("port")};
    QCommandLineOption listenOption{
        QStringLiteral("listen"),
        QStringLiteral("The host address the gateway of --tcp or --rtu-tcp listens on: IPv4, IPv6 or a name "
                       "(default 127.0.0.1). Also, alone, tcp://[HOST]:PORT or rtu+tcp://[HOST]:PORT."),
        QStringLiteral("address")};
    QCommandLineOption hopDelayOption{
        QStringLiteral("hop-delay"),
        QStringLiteral("The gateway's own delay, added to each reply (default 0)."), QStringLiteral("ms"),
        QStringLiteral("0")};
    QCommandLineOption maxConnectionsOption{
        QStringLiteral("max-connections"),
        QStringLiteral("Connections a gateway serves at once (default 4); one more is closed at once."),
        QStringLiteral("n"), QStringLiteral("4")};
    QCommandLineOption dropAllOption{
        QStringLiteral("drop-all-on-overflow"),
        QStringLiteral("A connection over --max-connections closes all the others too.")};
    QCommandLineOption pathUnavailableOption{
        QStringLiteral("gateway-path-unavailable"),
        QStringLiteral("An address no unit serves gets exception 10, not 11, from the tcp:// gateway.")};

    QCommandLineOption traceOption{
        QStringLiteral("trace"),
        QStringLiteral("Log every request received and reply sent, decoded, one line each (CSV when the file "
                       "name ends in .csv)."),
        QStringLiteral("file")};

    void AddTo(QCommandLineParser& parser) const {
        parser.addOptions({slaveOption, clampOption, portOption, linkOption, deviceIdOption, deviceOption,
                           definitionsOption, stateOption, blankOption, wireSpeedOption, faultOption,
                           faultAtOption, faultAfterOption, slowOption, seedOption, verboseOption,
                           silentCommitOption});
        parser.addOptions({tcpOption, rtuTcpOption, listenOption, hopDelayOption, maxConnectionsOption,
                           dropAllOption, pathUnavailableOption});
        parser.addOption(traceOption);
    }
};

// Closes a network connection after n requests; a fault of the gateway's, not of a unit's.
constexpr char CloseAfterFault[] = "close-after";
// With --fault-at: closes the connection that sends the gateway's request n, instead of passing it on.
constexpr char CloseAtFault[] = "close";

// The line's faults and limits, alike for every unit on it; "" when the options are good.
std::string SetFaults(const QCommandLineParser& parser, const TSimOptions& o, TSimUnit& unit) {
    for (const QString& fault : parser.values(o.faultOption)) {
        const QStringList parts = fault.split(QLatin1Char('='));
        if (parts.front() == QLatin1String(CloseAfterFault))
            continue; // the gateway's, not the unit's
        bool ok = parts.size() == 2;
        const double rate = ok ? parts[1].toDouble(&ok) : 0.0;
        const auto kind = ok ? SimFaultFromName(parts[0].toStdString()) : std::nullopt;
        if (!kind || rate < 0.0 || rate > 1.0)
            return ("--fault takes kind=rate with a known kind and a rate from 0 to 1: " +
                    fault.toStdString());
        unit.AddFault(*kind, rate);
    }
    for (const QString& fault : parser.values(o.faultAtOption)) {
        const QStringList parts = fault.split(QLatin1Char('='));
        if (parts.front() == QLatin1String(CloseAtFault))
            continue; // the gateway's, not the unit's
        bool ok = parts.size() == 2;
        const qlonglong request = ok ? parts[1].toLongLong(&ok) : 0;
        const auto kind = ok ? SimFaultFromName(parts[0].toStdString()) : std::nullopt;
        if (!kind || request < 1)
            return ("--fault-at takes kind=n with a known kind and a request number from 1: " +
                    fault.toStdString());
        unit.AddFaultAt(*kind, request);
    }
    bool ok = false;
    const int slowMs = parser.value(o.slowOption).toInt(&ok);
    if (!ok || slowMs < 0)
        return ("--slow-ms takes a number of milliseconds");
    unit.SetSlowDelayMs(slowMs);
    const qlonglong faultAfter = parser.value(o.faultAfterOption).toLongLong(&ok);
    if (!ok || faultAfter < 0)
        return ("--fault-after takes a number of requests");
    unit.SetFaultFreeRequests(faultAfter);
    if (parser.isSet(o.seedOption))
        unit.SetSeed(parser.value(o.seedOption).toUInt());
    unit.SetSilentCommit(parser.isSet(o.silentCommitOption));
    for (const QString& clamp : parser.values(o.clampOption)) {
        const QStringList parts = clamp.split(':');
        bool regOk = false;
        bool maxOk = false;
        const int reg = parts.size() == 2 ? parts[0].toInt(&regOk) : 0;
        const uint max = parts.size() == 2 ? parts[1].toUInt(&maxOk) : 0;
        if (!regOk || !maxOk || reg < 1 || reg > TSimUnit::ObjectCount || max > 0xFFFF)
            return ("--clamp takes REG:MAX, a holding register from 1 and a value from 0 to 65535: " +
                    clamp.toStdString());
        unit.SetClamp(reg, static_cast<uint16_t>(max));
    }
    return {};
}

// A gateway is served instead of a comm port.
bool GatewayWanted(const QCommandLineParser& parser, const TSimOptions& o) {
    return parser.isSet(o.listenOption) || parser.isSet(o.tcpOption) || parser.isSet(o.rtuTcpOption);
}

// The kind, host and port of the gateway into `gateway`: --tcp or --rtu-tcp with the host of
// --listen, or the older --listen tcp://[HOST]:PORT alone; "" when they are good.
std::string GatewayAddress(const QCommandLineParser& parser, const TSimOptions& o,
                           TSimGatewayOptions& gateway) {
    const bool tcp = parser.isSet(o.tcpOption);
    const bool rtuTcp = parser.isSet(o.rtuTcpOption);
    const std::string listen = parser.value(o.listenOption).toStdString();
    if (tcp && rtuTcp)
        return "--tcp and --rtu-tcp are two kinds of gateway: give one";
    if (listen.find("://") != std::string::npos) {
        if (tcp || rtuTcp)
            return "--listen tcp://... or rtu+tcp://... names its port itself: not with --tcp or --rtu-tcp";
        if (!ParseListenAddress(listen, &gateway))
            return "--listen takes tcp://[HOST]:PORT or rtu+tcp://[HOST]:PORT";
        return {};
    }
    if (!tcp && !rtuTcp)
        return "--listen takes a host address with --tcp PORT or --rtu-tcp PORT";
    if (!ParseListenHost(listen, &gateway.host))
        return "--listen takes a host address (IPv4, IPv6 or a name): " + listen;
    bool ok = false;
    const uint port = parser.value(tcp ? o.tcpOption : o.rtuTcpOption).toUInt(&ok, 10);
    if (!ok || port > 65535)
        return std::string(tcp ? "--tcp" : "--rtu-tcp") + " takes a port from 0 to 65535 (0: a free one)";
    gateway.port = static_cast<uint16_t>(port);
    gateway.rtuOverTcp = rtuTcp;
    return {};
}

// The gateway's fault of --fault close-after=N or --fault-at close=N into `count`; "" when good.
std::string GatewayFault(const QStringList& faults, const char* kind, int64_t* count, bool* given) {
    for (const QString& fault : faults) {
        const QStringList parts = fault.split(QLatin1Char('='));
        if (parts.front() != QLatin1String(kind))
            continue;
        bool ok = false;
        *count = parts.size() == 2 ? parts[1].toLongLong(&ok) : 0;
        if (!ok || *count < 1)
            return std::string(kind) + " takes a number of requests from 1";
        *given = true;
    }
    return {};
}

// The gateway and its options into `gateway`; "" when they are good, or not given and not needed.
std::string GatewayOptions(const QCommandLineParser& parser, const TSimOptions& o,
                           TSimGatewayOptions& gateway) {
    const bool wanted = GatewayWanted(parser, o);
    if (wanted) {
        if (std::string problem = GatewayAddress(parser, o, gateway); !problem.empty())
            return problem;
    }
    bool ok = false;
    gateway.maxConnections = parser.value(o.maxConnectionsOption).toInt(&ok);
    if (!ok || gateway.maxConnections < 1)
        return "--max-connections takes a number from 1";
    gateway.hopDelayMs = parser.value(o.hopDelayOption).toInt(&ok);
    if (!ok || gateway.hopDelayMs < 0)
        return "--hop-delay takes a number of milliseconds";
    gateway.dropAllOnOverflow = parser.isSet(o.dropAllOption);
    gateway.pathUnavailable = parser.isSet(o.pathUnavailableOption);
    gateway.wireSpeed = parser.isSet(o.wireSpeedOption);
    bool faultGiven = false;
    if (std::string problem =
            GatewayFault(parser.values(o.faultOption), CloseAfterFault, &gateway.closeAfter, &faultGiven);
        !problem.empty())
        return "--fault " + problem;
    if (std::string problem =
            GatewayFault(parser.values(o.faultAtOption), CloseAtFault, &gateway.closeAt, &faultGiven);
        !problem.empty())
        return "--fault-at " + problem;
    const bool gatewayOnly = parser.isSet(o.maxConnectionsOption) || parser.isSet(o.hopDelayOption) ||
                             gateway.dropAllOnOverflow || gateway.pathUnavailable || faultGiven;
    if (!wanted && gatewayOnly)
        return "--max-connections, --hop-delay, --drop-all-on-overflow, --gateway-path-unavailable, --fault "
               "close-after and --fault-at close need a gateway (--tcp, --rtu-tcp or --listen)";
    if (wanted && (parser.isSet(o.portOption) || parser.isSet(o.linkOption)))
        return "--port and --link are for a comm port, not a gateway";
    return {};
}

// The units to serve, one for each --slave option, with the device ids they report and the files
// their state is kept in.
struct TLineUnits {
    std::vector<std::unique_ptr<TSimUnit>> units;
    std::vector<std::string> statePaths;
    std::vector<int32_t> deviceIds;
    // Each catalogue's trees take their defaults into a store of its own; the stores outlive them.
    std::vector<std::unique_ptr<TRegisterDataStore>> stores;
    std::vector<std::unique_ptr<TDevices>> catalogues;
};

// Makes the units of `slaves` into `made`; "" when they could all be made, else why not.
std::string MakeUnits(const QCommandLineParser& parser, const TSimOptions& o,
                      const std::vector<TSlaveOptions>& slaves, TLineUnits& made) {
    const bool shared = slaves.size() > 1;
    auto& units = made.units;
    auto& statePaths = made.statePaths;
    auto& deviceIds = made.deviceIds;
    auto& catalogues = made.catalogues;
    std::string error;
    for (const TSlaveOptions& slave : slaves) {
        auto unit = std::make_unique<TSimUnit>();
        unit->SetAddress(static_cast<uint8_t>(slave.address));
        unit->SetReportsNoise(units.empty());
        // On a shared line each unit's log lines say whose they are.
        const std::string prefix =
            "dezadizi-sim: " + (shared ? "slave " + std::to_string(slave.address) + ": " : std::string());
        unit->OnLog = [prefix](const std::string& line) { std::cout << prefix << line << std::endl; };
        const bool stateExists =
            !slave.state.empty() && QFileInfo::exists(QString::fromStdString(slave.state));
        int32_t deviceId = 0;
        if (!slave.deviceId.isEmpty()) {
            bool ok = false;
            deviceId = slave.deviceId.toInt(&ok, 0);
            if (!ok || deviceId < 0 || deviceId > 0xFFFF)
                return ("--device-id takes a number from 0 to 65535");
        } else if (!slave.device.isEmpty()) {
            const std::string definitions =
                parser.isSet(o.definitionsOption)
                    ? parser.value(o.definitionsOption).toStdString()
                    : FindDefinitionFile(QCoreApplication::applicationDirPath().toStdString());
            made.stores.push_back(std::make_unique<TRegisterDataStore>());
            catalogues.push_back(std::make_unique<TDevices>(*made.stores.back()));
            TDevice* device =
                DeviceByName(*catalogues.back(), definitions, slave.device.toStdString(), &error);
            if (device == nullptr)
                return error;
            deviceId = device->DeviceId;
            // A unit fresh from the factory; a kept state or --blank says otherwise.
            if (!stateExists && !parser.isSet(o.blankOption) && !LoadFactoryDefaults(*unit, *device, &error))
                return ("cannot form the factory defaults: " + error);
        }
        unit->SetDeviceId(static_cast<uint16_t>(deviceId));
        if (stateExists && !unit->LoadState(slave.state, &error))
            return ("cannot load " + slave.state + ": " + error);
        deviceIds.push_back(deviceId);
        statePaths.push_back(slave.state);
        units.push_back(std::move(unit));
    }
    return {};
}

// Publishes the line under the comm port name in the user settings, and at `link` when one is
// given; "" when it is published, else why not.
std::string PublishLine(const TSimPort& line, const QString& key, const QString& path,
                        const std::string& link) {
    if (!link.empty()) {
        std::error_code code;
        if (std::filesystem::is_symlink(link, code))
            std::filesystem::remove(link, code);
        std::filesystem::create_symlink(line.Path(), link, code);
        if (code)
            return ("cannot make the link " + link + ": " + code.message());
    }
    {
        QSettings settings(UserSettings::Organization, UserSettings::Application);
        settings.setValue(key, path);
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            std::error_code code;
            if (!link.empty())
                std::filesystem::remove(link, code);
            return ("cannot write the user settings " + settings.fileName().toStdString());
        }
    }
    return {};
}

// Leaves the published names only when they still point here (another simulator may have
// taken them over meanwhile).
void UnpublishLine(const TSimPort& line, const QString& key, const QString& path, const std::string& link) {
    {
        QSettings settings(UserSettings::Organization, UserSettings::Application);
        if (settings.value(key).toString() == path) {
            settings.remove(key);
            settings.sync();
        }
    }
    if (!link.empty()) {
        std::error_code code;
        if (std::filesystem::is_symlink(link, code) &&
            std::filesystem::read_symlink(link, code) == line.Path())
            std::filesystem::remove(link, code);
    }
}

// Saves the state of each unit that has a state file and changed since.
void SaveChanged(const TLineUnits& made) {
    for (size_t i = 0; i < made.units.size(); ++i) {
        if (made.statePaths[i].empty() || !made.units[i]->Dirty())
            continue;
        std::string saveError;
        if (!made.units[i]->SaveState(made.statePaths[i], &saveError))
            std::cerr << "dezadizi-sim: cannot save " << made.statePaths[i] << ": " << saveError << std::endl;
    }
}

void ReportStopped(const TLineUnits& made) {
    const bool shared = made.units.size() > 1;
    for (const auto& unit : made.units) {
        std::cout << "dezadizi-sim " << (shared ? "slave " + std::to_string(unit->Address()) + " " : "")
                  << "stopped after " << unit->Requests() << " requests and " << unit->Commits() << " commits"
                  << std::endl;
    }
}

// --trace FILE opened into `trace`; "" when it was or is not wanted.
std::string OpenTrace(const QCommandLineParser& parser, const TSimOptions& o, TTraceFile& trace) {
    if (!parser.isSet(o.traceOption))
        return {};
    const std::string failure = trace.Open(parser.value(o.traceOption).toStdString(), true);
    return failure.empty() ? failure : "cannot open the trace file " + failure;
}

// Serves the units behind a network gateway until `stopFd` becomes readable; the exit code.
int ServeGateway(const TLineUnits& made, const TSimGatewayOptions& options, int stopFd, TTrafficSink* trace) {
    std::vector<TSimUnit*> units;
    for (const auto& unit : made.units)
        units.push_back(unit.get());
    TSimGateway gateway(units, options);
    gateway.SetTrafficSink(trace);
    gateway.OnLog = [](const std::string& line) { std::cout << "dezadizi-sim: " << line << std::endl; };
    std::string error;
    if (!gateway.Listen(&error))
        return Fail(error);
    std::cout << "dezadizi-sim ready port=" << gateway.Address();
    for (size_t i = 0; i < units.size(); ++i)
        std::cout << " slave=" << int(units[i]->Address()) << " device-id=" << made.deviceIds[i];
    std::cout << std::endl;

    QSocketNotifier stop(stopFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &stop, [] { QCoreApplication::quit(); });
    QTimer idle;
    QObject::connect(&idle, &QTimer::timeout, &idle, [&made] { SaveChanged(made); });
    idle.start(200);
    QCoreApplication::exec();
    SaveChanged(made);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dezadizi-sim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(DezVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated unit: a Modbus RTU slave (address 1) on a pseudo-terminal, published as a comm port;\n"
        "with --slave, several units on one line; with --tcp or --rtu-tcp, units behind a network gateway.\n"
        "Fault kinds: no-reply, bad-crc, wrong-slave, exception, garbage, truncated, slow;\n"
        "behind a gateway also --fault close-after=n (close each connection after n requests)\n"
        "and --fault-at close=n (close the connection that sends request n, counted over all)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const TSimOptions o;
    o.AddTo(parser);
    parser.process(application);

    const auto target = ParsePortTarget(parser.value(o.portOption).toStdString());
    if (!target || target->kind != TPortKind::ComPort || target->addressGiven)
        return Fail("--port takes a name such as COM1");
    const QString port = QString::fromStdString(target->name);

    const bool verbose = parser.isSet(o.verboseOption);
    std::string error;
    std::vector<TSlaveOptions> slaves;
    if (!SlaveOptions(QCoreApplication::arguments(), &slaves, &error))
        return Fail(error);
    TLineUnits made;
    if (const std::string problem = MakeUnits(parser, o, slaves, made); !problem.empty())
        return Fail(problem);
    const auto& units = made.units;
    const auto& deviceIds = made.deviceIds;

    for (const auto& unit : units) {
        if (const std::string problem = SetFaults(parser, o, *unit); !problem.empty())
            return Fail(problem);
        unit->SetLogRequests(verbose);
    }
    TSimGatewayOptions gateway;
    if (const std::string problem = GatewayOptions(parser, o, gateway); !problem.empty())
        return Fail(problem);

    TTraceFile trace;
    if (const std::string problem = OpenTrace(parser, o, trace); !problem.empty())
        return Fail(problem);
    TTrafficSink* traceSink = trace.IsOpen() ? &trace : nullptr;

    // SIGINT, SIGTERM and SIGHUP (a closed terminal) end the run cleanly.
    InstallStopSignals();
    int stopPipe[2] = {-1, -1};
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("dezadizi-sim: pipe");
        return 1;
    }
    const TStopHookScope stopHook({WakeLine, &stopPipe[1]});
    if (GatewayWanted(parser, o)) {
        const int code = ServeGateway(made, gateway, stopPipe[0], traceSink);
        if (code == 0)
            ReportStopped(made);
        return code;
    }
    TSimPort line;
    line.SetWireSpeed(parser.isSet(o.wireSpeedOption));
    line.SetTrafficSink(traceSink);
    if (!line.Create(&error))
        return Fail(error);
    const QString path = QString::fromStdString(line.Path());

    const std::string link = parser.value(o.linkOption).toStdString();
    const QString key = UserSettings::PortKey(port);
    if (const std::string problem = PublishLine(line, key, path, link); !problem.empty())
        return Fail(problem);

    std::cout << "dezadizi-sim ready port=" << line.Path() << " com=" << port.toStdString()
              << (link.empty() ? "" : " link=" + link);
    for (size_t i = 0; i < units.size(); ++i)
        std::cout << " slave=" << int(units[i]->Address()) << " device-id=" << deviceIds[i];
    std::cout << (parser.isSet(o.wireSpeedOption) ? " wire-speed" : "") << std::endl;

    std::vector<TSimUnit*> line_units;
    for (const auto& unit : units)
        line_units.push_back(unit.get());
    line.Serve(line_units, stopPipe[0], [&made] { SaveChanged(made); });
    SaveChanged(made);

    UnpublishLine(line, key, path, link);
    ReportStopped(made);
    return 0;
}
