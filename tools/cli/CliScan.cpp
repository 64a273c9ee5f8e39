#include "CliScan.h"

#include "CliOnline.h"

#include "definitions/Devices.h"
#include "features/Jsonlines.h"
#include "features/Unitscan.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "modbus/SerialPort.h"
#include "modbus/Tracefile.h"
#include "settings/Device.h"

#include "Stopsignals.h"

#include <QJsonObject>
#include <QString>
#include <memory>
#include <unistd.h>

namespace {

// Input register 4 holds the unit's device id, as a search reads it.

bool ParseAddress(const std::string& text, int32_t* address) {
    bool ok = false;
    const int value = QString::fromStdString(text).toInt(&ok, 10);
    if (!ok || value < SerialPort::MinSlaveAddress || value > SerialPort::MaxSlaveAddress)
        return false;
    *address = value;
    return true;
}

bool ParseWait(const std::string& text, int32_t* wait) {
    if (text.empty())
        return true;
    bool ok = false;
    const int value = QString::fromStdString(text).toInt(&ok, 10);
    if (!ok || value < MinScanWaitMs || value > MaxScanWaitMs)
        return false;
    *wait = value;
    return true;
}

} // namespace

int CliScan(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    int32_t from = SerialPort::MinSlaveAddress;
    int32_t to = SerialPort::MaxSlaveAddress;
    int32_t wait = DefaultScanWaitMs;
    const auto usage = [&err] {
        err << "usage: dezadizi-cli scan PORT [--from A] [--to B] [--wait MS] [--timeout MS] (addresses 1 "
               "to 247, wait "
            << MinScanWaitMs << " to " << MaxScanWaitMs << " ms)\n";
        return cliUsage;
    };
    if (options.positional.size() != 1 || !options.output.empty() ||
        (!options.from.empty() && !ParseAddress(options.from, &from)) ||
        (!options.to.empty() && !ParseAddress(options.to, &to)) || from > to ||
        !ParseWait(options.wait, &wait))
        return usage();
    int status = cliUsage;
    const auto target = ParseCliTarget(options.positional[0], err, &status);
    if (!target)
        return status;
    if (target->addressGiven)
        return usage();
    auto link = TakeCliLink(options, err);
    if (!link)
        return cliUsage;
    if (!OpenCliTrace(options, *link, true, err))
        return cliFailed;

    TRegisterDataStore store;
    TDevices devices(store);
    try {
        devices.LoadFromFile(options.definitionFile);
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
    const std::unique_ptr<MbusMasterFunctions> master = MakeMaster(*target);
    // One request per address: a unit that does not answer is asked again only when a late
    // reply shows it may be there.
    master->SetRetryCount(0);
    master->SetTrafficSink(link->trace.get());
    const int32_t opened = OpenMaster(*master, *target);
    if (opened != 0) {
        if (IsGateway(*target))
            err << MasterErrorText(*master) << "\n";
        else
            err << ErrorText(opened) << " " << SerialPort::ResolvePortName(target->name) << "\n";
        return cliFailed;
    }

    const TStopSignals stopSignals;
    const bool progress = isatty(STDERR_FILENO) != 0 && !options.json;
    int found = 0;
    const auto report = [&](int32_t address, int16_t value) {
        ++found;
        const int32_t id = static_cast<uint16_t>(value);
        std::string name;
        for (const auto& device : devices.Devices) {
            if (device->DeviceId == id)
                name = device->Name;
        }
        if (progress)
            err << "\r\033[K" << std::flush;
        if (options.json)
            out << JsonLine(JsonScannedUnit(address, id, name)) << std::flush;
        else
            out << address << "  " << id << "  "
                << (name.empty() ? "unknown device id " + std::to_string(id) : name) << std::endl;
    };
    TUnitScan scan{from,
                   to,
                   wait,
                   link->replyTimeoutMs,
                   report,
                   [&](int32_t address) {
                       if (progress) {
                           err << "\rScanning address " << address << " of " << from << " to " << to << " ("
                               << found << " found)" << std::flush;
                       }
                   },
                   [] { return StopRequested(); }};
    const int32_t result = ScanUnits(*master, *target, scan);
    if (result == FTALK_TCPIP_CONNECT_ERR) {
        // The gateway has gone and does not come back: the addresses left cannot be told.
        if (progress)
            err << "\r\033[K";
        err << MasterErrorText(*master) << "\n";
        return cliFailed;
    }
    if (progress)
        err << "\r\033[K" << std::flush;
    master->Close();
    return StopRequested() ? StopExitStatus() : cliOk;
}
