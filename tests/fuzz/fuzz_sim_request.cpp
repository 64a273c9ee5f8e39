// Feeds arbitrary bytes to the simulated unit as one request frame, with and without a valid
// checksum, and checks that every reply it makes is a well-formed frame for slave 1.
#include "SimUnit.h"

#include "modbus/Crc16.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TSimUnit* unit = new TSimUnit();
    TSimUnit::RequestLength(data, size);
    unit->Handle(data, size);

    // Most arbitrary frames fail the checksum; give every input a valid one as well.
    std::vector<uint8_t> frame(data, data + size);
    frame.resize(size + 2);
    AppendCrc16(frame.data(), size);
    const TSimReply reply = unit->Handle(frame.data(), frame.size());
    if (!reply.bytes.empty() &&
        (reply.bytes[0] != TSimUnit::DefaultAddress || !HasValidCrc16(reply.bytes.data(), reply.bytes.size())))
        std::abort();
    return 0;
}
