#include "CliScan.h"

#include "CliOnline.h"

#include "definitions/Devices.h"
#include "features/Jsonlines.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Registerdatastore.h"
#include "modbus/SerialPort.h"
#include "modbus/Tracefile.h"
#include "modbus/Unitmap.h"
#include "settings/Device.h"

#include "Stopsignals.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

// The reply wait of a scan. At 9600 baud a one-register read is an 8-byte request (9 ms) and a
// 7-byte reply (8 ms); 100 ms lets a unit take up to about 90 ms to turn round. A silent
// address costs the request, the wait and the ignored frame (MbusRtuMasterProtocol::
// SendIgnoredFrame), each frame after a quiet line of 5 ms, about 133 ms on a line: 1 to 247 in
// about 33 s.
constexpr int32_t DefaultScanWaitMs = 100;
constexpr int32_t MinScanWaitMs = 10;
constexpr int32_t MaxScanWaitMs = 10000;
// How long a silent address is listened to after its wait before the line moves on: only the
// quiet-line interval the ignored frame needs anyway. Longer would stretch a scan by as much per
// address; a reply later still is caught as a frame that the next address's request refuses.
constexpr int32_t LateReplyListenMs = 0;
// An RTU-over-TCP gateway first sends the request on its own line (9 ms at 9600 baud), and the
// network adds a hop: what the wait gets on top there. A Modbus TCP gateway answers an absent
// unit with an exception; its wait keeps the margin of every other gateway request.
constexpr int32_t RtuGatewayMarginMs = 20;
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

struct TScanLine {
    MbusMasterFunctions& master;
    // Sends the ignored frame after a silent address: 0, LateReplyHeard or a failure's code.
    // Empty for a Modbus TCP gateway, whose units answer its requests only.
    std::function<int32_t(int32_t listenMs)> sendIgnoredFrame;
    int32_t waitMs = DefaultScanWaitMs;
    // The reply time-out of ordinary requests: --timeout, else the master's own.
    int32_t replyTimeoutMs = 0;
};

// A frame came that was not the reply asked for: spoilt, or another address's.
bool ForeignFrame(int32_t result) {
    return result == FTALK_CHECKSUM_ERROR || result == FTALK_INVALID_FRAME_ERROR;
}

// Asks `address` for its device id, once, and leaves the line ready for the next request. On a
// serial line a silent address is followed by the ignored frame; a late reply heard before it
// has the address asked again, with the ordinary reply time-out. `foreign`: the first answer
// was a frame not its own.
int32_t AskAddress(TScanLine& line, int32_t address, bool patient, int16_t* value, bool* foreign) {
    line.master.SetTimeout(patient ? line.replyTimeoutMs : line.waitMs);
    const int32_t result = line.master.ReadInputRegisters(address, Unitmap::DeviceIdRegister, value, 1);
    if (foreign != nullptr)
        *foreign = ForeignFrame(result);
    if (result == FTALK_SUCCESS || result == FTALK_TCPIP_CONNECT_ERR || !line.sendIgnoredFrame)
        return result;
    const int32_t settled = line.sendIgnoredFrame(LateReplyListenMs);
    if (settled == MbusRtuMasterProtocol::LateReplyHeard && !patient)
        return AskAddress(line, address, true, value, nullptr);
    return result;
}

// Asks the addresses from..to in turn; `report` takes each unit found. 0, or
// FTALK_TCPIP_CONNECT_ERR when the gateway went and the addresses left cannot be told.
int32_t ScanRange(TScanLine& line, int32_t from, int32_t to,
                  const std::function<void(int32_t, int16_t)>& report,
                  const std::function<void(int32_t)>& progress) {
    bool previousSilent = false;
    for (int32_t address = from; address <= to && !StopRequested(); ++address) {
        progress(address);
        int16_t value = 0;
        bool foreign = false;
        // Absent alike: silence on a serial line, exception 10 or 11 from a gateway.
        int32_t result = AskAddress(line, address, false, &value, &foreign);
        if (foreign) {
            // Most likely the address before answered late, into this one's wait: both are
            // asked again, with the ordinary reply time-out.
            int16_t earlier = 0;
            if (previousSilent && AskAddress(line, address - 1, true, &earlier, nullptr) == FTALK_SUCCESS)
                report(address - 1, earlier);
            result = AskAddress(line, address, true, &value, nullptr);
        }
        if (result == FTALK_TCPIP_CONNECT_ERR)
            return result;
        previousSilent = result != FTALK_SUCCESS;
        if (result == FTALK_SUCCESS)
            report(address, value);
    }
    // No next address's wait catches the last one's late reply: it is listened for as long as
    // the ordinary reply time-out would have waited.
    if (previousSilent && line.sendIgnoredFrame && !StopRequested()) {
        const int32_t rest = line.replyTimeoutMs - line.waitMs - LateReplyListenMs;
        int16_t value = 0;
        if (line.sendIgnoredFrame(rest) == MbusRtuMasterProtocol::LateReplyHeard &&
            AskAddress(line, to, true, &value, nullptr) == FTALK_SUCCESS)
            report(to, value);
    }
    return FTALK_SUCCESS;
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
    TScanLine line{*master, {}, wait, link->replyTimeoutMs > 0 ? link->replyTimeoutMs : master->Timeout()};
    if (auto* serial = dynamic_cast<MbusRtuMasterProtocol*>(master.get()); serial != nullptr)
        line.sendIgnoredFrame = [serial](int32_t listenMs) { return serial->SendIgnoredFrame(listenMs); };
    else if (auto* gateway = dynamic_cast<TGatewayMaster*>(master.get());
             gateway != nullptr && target->kind == TPortKind::RtuOverTcp)
        line.sendIgnoredFrame = [gateway](int32_t listenMs) { return gateway->SendIgnoredFrame(listenMs); };
    if (target->kind == TPortKind::ModbusTcp)
        line.waitMs += GatewayReplyMarginMs;
    else if (target->kind == TPortKind::RtuOverTcp)
        line.waitMs += RtuGatewayMarginMs;
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
    const int32_t result = ScanRange(line, from, to, report, [&](int32_t address) {
        if (progress) {
            err << "\rScanning address " << address << " of " << from << " to " << to << " (" << found
                << " found)" << std::flush;
        }
    });
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
