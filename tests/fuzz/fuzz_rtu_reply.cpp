// Feeds arbitrary bytes to the RTU master as the unit's reply. The first byte picks the request
// (function code and count), the rest is what the line delivers. Every outcome must be an error
// code; a crash or a sanitizer report is a bug.
#include "modbus/MbusRtuMasterProtocol.h"

#include <cstdint>
#include <cstring>

namespace {

class TReplayPort : public SerialPort {
public:
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    bool sent = false;

    int32_t Open(const std::string&) override {
        open = true;
        return Success;
    }
    int32_t Configure(int32_t, int32_t, int32_t, int32_t) override { return Success; }
    int32_t Purge() override { return Success; }
    int32_t Write(const uint8_t*, int32_t, int32_t) override {
        sent = true;
        return Success;
    }
    int32_t Read(uint8_t* buffer, int32_t length, int32_t) override {
        if (!sent)
            return Timeout; // a quiet line before the request
        const size_t n = size - at < static_cast<size_t>(length) ? size - at : static_cast<size_t>(length);
        std::memcpy(buffer, data + at, n);
        at += n;
        return n == static_cast<size_t>(length) ? Success : Timeout;
    }
    int32_t Flush() override { return Success; }
    bool IsOpen() const override { return open; }
    void Close() override { open = false; }
    bool open = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    auto owned = std::make_unique<TReplayPort>();
    TReplayPort* port = owned.get();
    port->data = data + 1;
    port->size = size - 1;
    MbusRtuMasterProtocol master(std::move(owned));
    master.Open("COM1", 9600, 8, 1, 0);
    master.SetTimeout(0);

    const int32_t count = 1 + (data[0] >> 3) * 4; // 1 to 125
    int32_t coils[2000];
    int16_t registers[125];
    switch (data[0] & 7) {
    case 0:
        master.ReadCoils(1, 1, coils, count * 16 > 2000 ? 2000 : count * 16);
        break;
    case 1:
        master.ReadHoldingRegisters(1, 1, registers, count);
        break;
    case 2:
        master.ReadInputRegisters(1, 4, registers, count);
        break;
    case 3:
        master.WriteSingleCoil(1, count, (data[0] & 8) != 0);
        break;
    case 4:
        master.WriteSingleRegister(1, 9999, 123);
        break;
    default:
        master.ReadHoldingRegisters(1, 65536 - count + 1, registers, count);
        break;
    }
    return 0;
}
