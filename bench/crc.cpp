// Throughput of the RTU checksum and of building and checking frames, and one whole exchange of
// the master on a port that answers from memory (so only our own code is timed).
#include "modbus/Crc16.h"
#include "modbus/MbusRtuMasterProtocol.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

void BM_Crc16(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(8)->Arg(105)->Arg(256);

void BM_BuildRequestFrame(benchmark::State& state) {
    uint8_t frame[MbusRtuMasterProtocol::MaxFrameLength];
    const uint8_t data[4] = {0x00, 0x63, 0x00, 0x32};
    for (auto _ : state) {
        benchmark::DoNotOptimize(MbusRtuMasterProtocol::BuildFrame(frame, 1, 3, data, 4));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_BuildRequestFrame);

void BM_CheckReplyFrame(benchmark::State& state) {
    // The reply to a block read of 50 holding registers: 105 bytes.
    std::vector<uint8_t> data(101);
    data[0] = 100;
    std::vector<uint8_t> frame(105);
    MbusRtuMasterProtocol::BuildFrame(frame.data(), 1, 3, data.data(), 101);
    for (auto _ : state)
        benchmark::DoNotOptimize(MbusRtuMasterProtocol::CheckReplyFrame(frame.data(), 105, 1, 3));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_CheckReplyFrame);

// Answers every request at once with a prepared block of 50 registers.
class TMemoryPort : public SerialPort {
public:
    TMemoryPort() {
        std::vector<uint8_t> data(101);
        data[0] = 100;
        FReply.resize(105);
        MbusRtuMasterProtocol::BuildFrame(FReply.data(), 1, 3, data.data(), 101);
    }
    int32_t Open(const std::string&) override {
        FOpen = true;
        return Success;
    }
    int32_t Configure(int32_t, int32_t, int32_t, int32_t) override { return Success; }
    int32_t Purge() override { return Success; }
    int32_t Write(const uint8_t*, int32_t, int32_t) override {
        FAt = 0;
        FReplying = true;
        return Success;
    }
    int32_t Read(uint8_t* buffer, int32_t length, int32_t) override {
        if (!FReplying)
            return Timeout; // the quiet line before the request
        std::memcpy(buffer, FReply.data() + FAt, static_cast<size_t>(length));
        FAt += static_cast<size_t>(length);
        FReplying = FAt < FReply.size();
        return Success;
    }
    int32_t Flush() override { return Success; }
    bool IsOpen() const override { return FOpen; }
    void Close() override { FOpen = false; }

private:
    std::vector<uint8_t> FReply;
    size_t FAt = 0;
    bool FReplying = false;
    bool FOpen = false;
};

void BM_ReadFiftyRegistersExchange(benchmark::State& state) {
    MbusRtuMasterProtocol master(std::make_unique<TMemoryPort>());
    master.Open("COM1", 9600, 8, 1, 0);
    int16_t values[50];
    for (auto _ : state) {
        if (master.ReadHoldingRegisters(1, 100, values, 50) != 0)
            state.SkipWithError("exchange failed");
        benchmark::DoNotOptimize(values);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ReadFiftyRegistersExchange);

} // namespace

BENCHMARK_MAIN();
