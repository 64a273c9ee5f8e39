// Feeds arbitrary bytes to the network masters as what the gateway sends back. The first byte
// picks the master and the request, the rest is what the connection delivers. Every outcome
// must be an error code; a crash, a sanitizer report or a hang is a bug.
#include "modbus/MbusRtuTcpMasterProtocol.h"
#include "modbus/MbusTcpMasterProtocol.h"

#include <cstdint>
#include <cstring>

namespace {

class TReplayPort : public TcpPort {
public:
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    bool connected = false;

    int32_t Connect(const std::string&, uint16_t) override {
        connected = true;
        return Success;
    }
    bool IsConnected() const override { return connected; }
    void Close() override { connected = false; }
    int32_t Write(const uint8_t*, int32_t, int32_t) override { return connected ? Success : Closed; }
    // The stream has no more than it holds: asking past its end is a time-out, as with a
    // gateway that stops sending; nothing is taken then.
    int32_t Read(uint8_t* buffer, int32_t length, Clock::time_point) override {
        if (size - at < static_cast<size_t>(length))
            return Timeout;
        std::memcpy(buffer, data + at, static_cast<size_t>(length));
        at += static_cast<size_t>(length);
        return Success;
    }
    int64_t Waiting() const override { return static_cast<int64_t>(size - at); }
    int32_t Discard() override { return connected ? Success : Closed; }
    std::string ErrorString() const override { return "replayed"; }
};

void Exercise(MbusMasterFunctions& master, uint8_t choice) {
    const int32_t count = 1 + (choice >> 4) * 8; // 1 to 121
    int32_t coils[2000];
    int16_t registers[125];
    switch ((choice >> 1) & 7) {
    case 0:
        master.ReadCoils(1, 1, coils, count * 16);
        break;
    case 1:
        master.ReadHoldingRegisters(1, 1, registers, count);
        break;
    case 2:
        master.ReadInputRegisters(7, 4, registers, count);
        break;
    case 3:
        master.WriteSingleCoil(1, count, true);
        break;
    case 4:
        master.WriteSingleRegister(1, 9999, 123);
        break;
    default:
        master.ReadHoldingRegisters(247, 65536 - count + 1, registers, count);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    auto owned = std::make_unique<TReplayPort>();
    owned->data = data + 1;
    owned->size = size - 1;
    std::unique_ptr<MbusTcpMasterBase> master;
    if (data[0] & 1)
        master = std::make_unique<MbusRtuTcpMasterProtocol>(std::move(owned));
    else
        master = std::make_unique<MbusTcpMasterProtocol>(std::move(owned));
    master->SetRetryCount(2);
    master->SetTimeout(0);
    master->Open("gateway", 502);
    // Twice: the second request meets whatever the first left on the connection.
    Exercise(*master, data[0]);
    Exercise(*master, data[0]);
    return 0;
}
