#include "features/Unitscan.h"

#include "modbus/Masterfactory.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Unitmap.h"

namespace {

// How long a silent address is listened to after its wait before the line moves on: only the
// quiet-line interval the ignored frame needs anyway. Longer would stretch a scan by as much per
// address; a reply later still is caught as a frame that the next address's request refuses.
constexpr int32_t LateReplyListenMs = 0;
// An RTU-over-TCP gateway first sends the request on its own line (9 ms at 9600 baud), and the
// network adds a hop: what the wait gets on top there. A Modbus TCP gateway answers an absent
// unit with an exception; its wait keeps the margin of every other gateway request.
constexpr int32_t RtuGatewayMarginMs = 20;

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
                  const std::function<void(int32_t)>& progress, const std::function<bool()>& stop) {
    bool previousSilent = false;
    for (int32_t address = from; address <= to && !stop(); ++address) {
        if (progress)
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
    if (previousSilent && line.sendIgnoredFrame && !stop()) {
        const int32_t rest = line.replyTimeoutMs - line.waitMs - LateReplyListenMs;
        int16_t value = 0;
        if (line.sendIgnoredFrame(rest) == MbusRtuMasterProtocol::LateReplyHeard &&
            AskAddress(line, to, true, &value, nullptr) == FTALK_SUCCESS)
            report(to, value);
    }
    return FTALK_SUCCESS;
}

} // namespace

int32_t ScanUnits(MbusMasterFunctions& master, const TPortTarget& target, const TUnitScan& scan) {
    TScanLine line{master, {}, scan.waitMs, scan.replyTimeoutMs > 0 ? scan.replyTimeoutMs : master.Timeout()};
    if (auto* serial = dynamic_cast<MbusRtuMasterProtocol*>(&master); serial != nullptr)
        line.sendIgnoredFrame = [serial](int32_t listenMs) { return serial->SendIgnoredFrame(listenMs); };
    else if (auto* gateway = dynamic_cast<TGatewayMaster*>(&master);
             gateway != nullptr && target.kind == TPortKind::RtuOverTcp)
        line.sendIgnoredFrame = [gateway](int32_t listenMs) { return gateway->SendIgnoredFrame(listenMs); };
    if (target.kind == TPortKind::ModbusTcp)
        line.waitMs += GatewayReplyMarginMs;
    else if (target.kind == TPortKind::RtuOverTcp)
        line.waitMs += RtuGatewayMarginMs;
    const auto stop = [&scan] { return scan.stopRequested && scan.stopRequested(); };
    return ScanRange(line, scan.from, scan.to, scan.found, scan.asking, stop);
}
