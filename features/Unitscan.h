#pragma once
// Finding the units on a line or behind a gateway: each address asked for its device id once,
// with a short wait, and asked again only when a late reply shows a unit may be there. After a
// silent address a frame every correct unit ignores keeps a unit that takes the next frame for
// the missing reply from swallowing the next request.
#include "modbus/Porttarget.h"

#include <cstdint>
#include <functional>

class MbusMasterFunctions;

// The reply wait of a scan. At 9600 baud a one-register read is an 8-byte request (9 ms) and a
// 7-byte reply (8 ms); 100 ms lets a unit take up to about 90 ms to turn round. A silent
// address costs the request, the wait and the ignored frame (MbusRtuMasterProtocol::
// SendIgnoredFrame), each frame after a quiet line of 5 ms, about 133 ms on a line: 1 to 247 in
// about 33 s.
inline constexpr int32_t DefaultScanWaitMs = 100;
inline constexpr int32_t MinScanWaitMs = 10;
inline constexpr int32_t MaxScanWaitMs = 10000;
struct TUnitScan {
    int32_t from = 1;
    int32_t to = 247;
    // The wait per address, before a gateway's margin.
    int32_t waitMs = DefaultScanWaitMs;
    // The reply time-out of an address asked again; 0: the master's own.
    int32_t replyTimeoutMs = 0;
    // Each unit found, with the device id it holds.
    std::function<void(int32_t address, int16_t id)> found;
    // Each address as it is asked.
    std::function<void(int32_t address)> asking;
    // Ends the scan between addresses.
    std::function<bool()> stopRequested;
};

// Scans over `master`, open on `target`, with its retries set to none. 0, or
// FTALK_TCPIP_CONNECT_ERR when the gateway went and the addresses left cannot be told.
int32_t ScanUnits(MbusMasterFunctions& master, const TPortTarget& target, const TUnitScan& scan);
