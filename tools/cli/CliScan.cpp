#include "CliScan.h"

#include "CliOnline.h"

#include "definitions/Devices.h"
#include "features/Jsonlines.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "modbus/SerialPort.h"
#include "modbus/Tracefile.h"
#include "modbus/Unitmap.h"
#include "settings/Device.h"

#include "Stopsignals.h"

#include <QJsonObject>
#include <QString>
#include <memory>
#include <unistd.h>

namespace {

// The reply wait of a scan. At 9600 baud a one-register read is an 8-byte request (9 ms) and a
// 7-byte reply (8 ms): a unit's answer is complete about 20 ms after the request; 50 ms leaves
// it 30 ms to turn round. Each silent address costs the wait twice (the master then keeps the
// line quiet for one more wait, so a late answer is thrown away, never taken for the next
// address's), about 109 ms with the request: 1 to 247 on an empty line in about 27 s. The
// 80 ms that is also safe would take 42 s.
constexpr int32_t ScanReplyWaitMs = 50;
// Input register 4 holds the unit's device id, as a search reads it.

bool ParseAddress(const std::string& text, int32_t* address) {
    bool ok = false;
    const int value = QString::fromStdString(text).toInt(&ok, 10);
    if (!ok || value < SerialPort::MinSlaveAddress || value > SerialPort::MaxSlaveAddress)
        return false;
    *address = value;
    return true;
}

} // namespace

int CliScan(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    int32_t from = SerialPort::MinSlaveAddress;
    int32_t to = SerialPort::MaxSlaveAddress;
    const auto usage = [&err] {
        err << "usage: dezadizi-cli scan PORT [--from A] [--to B] [--timeout MS] (addresses 1 to 247)\n";
        return cliUsage;
    };
    if (options.positional.size() != 1 || !options.output.empty() ||
        (!options.from.empty() && !ParseAddress(options.from, &from)) ||
        (!options.to.empty() && !ParseAddress(options.to, &to)) || from > to)
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
    const std::unique_ptr<MbusMasterFunctions> line = MakeMaster(*target);
    MbusMasterFunctions& master = *line;
    master.SetTrafficSink(link->trace.get());
    // One request per address: a unit that does not answer the first time is not asked again.
    master.SetRetryCount(0);
    const int32_t replyWait = link->replyTimeoutMs > 0 ? link->replyTimeoutMs
                              : IsGateway(*target)     ? ScanReplyWaitMs + GatewayReplyMarginMs
                                                       : ScanReplyWaitMs;
    master.SetTimeout(replyWait);
    const int32_t opened = OpenMaster(master, *target);
    if (opened != 0) {
        if (IsGateway(*target))
            err << MasterErrorText(master) << "\n";
        else
            err << ErrorText(opened) << " " << SerialPort::ResolvePortName(target->name) << "\n";
        return cliFailed;
    }

    const TStopSignals stopSignals;
    const bool progress = isatty(STDERR_FILENO) != 0 && !options.json;
    int found = 0;
    for (int32_t address = from; address <= to && !StopRequested(); ++address) {
        if (progress) {
            err << "\rScanning address " << address << " of " << from << " to " << to << " (" << found
                << " found)" << std::flush;
        }
        int16_t value = 0;
        // Absent alike: silence on a serial line, exception 10 or 11 from a gateway.
        const int32_t result = master.ReadInputRegisters(address, Unitmap::DeviceIdRegister, &value, 1);
        if (result == FTALK_TCPIP_CONNECT_ERR) {
            // The gateway has gone and does not come back: the addresses left cannot be told.
            if (progress)
                err << "\r\033[K";
            err << MasterErrorText(master) << "\n";
            return cliFailed;
        }
        if (result != 0)
            continue;
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
    }
    if (progress)
        err << "\r\033[K" << std::flush;
    master.Close();
    return StopRequested() ? StopExitStatus() : cliOk;
}
