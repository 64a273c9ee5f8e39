#include "support/FakeUnit.h"

#include <chrono>
#include <thread>

TFakeUnit::TFakeUnit() : coils(65537, 0), registers(65537, 0), inputs(65537, 0) {}

namespace {
void Hold(const std::atomic<bool>& hold, std::atomic<int>& waiting) {
    if (!hold)
        return;
    ++waiting;
    while (hold)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    --waiting;
}
} // namespace

int32_t TFakeUnit::Answer(int32_t function, const uint8_t* request, uint8_t* reply) {
    Hold(holdRequests, waiting);
    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> guard(lock);
    const int32_t address = (request[0] << 8 | request[1]) + 1;
    const int32_t word = request[2] << 8 | request[3];
    const auto index = static_cast<int32_t>(requests.size());
    requests.push_back({function, address, word});
    if (failAll || index == failRequest)
        return failCode;
    switch (function) {
    case 1:
        reply[0] = static_cast<uint8_t>((word + 7) / 8);
        for (int32_t j = 0; j < word; ++j) {
            if (j % 8 == 0)
                reply[1 + j / 8] = 0;
            if (coils[static_cast<size_t>(address + j)] != 0)
                reply[1 + j / 8] = static_cast<uint8_t>(reply[1 + j / 8] | (1 << (j % 8)));
        }
        return 0;
    case 3:
    case 4: {
        const auto& image = function == 3 ? registers : inputs;
        reply[0] = static_cast<uint8_t>(2 * word);
        for (int32_t i = 0; i < word; ++i) {
            reply[1 + 2 * i] = static_cast<uint8_t>(image[static_cast<size_t>(address + i)] >> 8);
            reply[2 + 2 * i] = static_cast<uint8_t>(image[static_cast<size_t>(address + i)] & 0xFF);
        }
        return 0;
    }
    case 5:
        coils[static_cast<size_t>(address)] = request[2] == 0xFF ? 1 : 0;
        break;
    case 6:
        registers[static_cast<size_t>(address)] = static_cast<uint16_t>(word);
        break;
    default:
        return FTALK_MBUS_ILLEGAL_FUNCTION_RESPONSE;
    }
    for (int i = 0; i < 4; ++i)
        reply[i] = request[i];
    return 0;
}

int32_t TFakeUnitMaster::Transaction(int32_t slave, int32_t function, const uint8_t* request,
                                     int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    (void)slave;
    (void)requestLength;
    (void)replyLength;
    if (!open)
        return FTALK_ILLEGAL_STATE_ERROR;
    return Answer(function, request, reply);
}

TFakeSerialUnit::TFakeSerialUnit(std::shared_ptr<TFakeUnit> unit) : FUnit(std::move(unit)) {}

TFakeSerialUnit::~TFakeSerialUnit() {
    TFakeSerialUnit::Close();
}

void TFakeSerialUnit::Close() {
    if (FOpen.exchange(false))
        FUnit->closed = true;
}

int32_t TFakeSerialUnit::Open(const std::string& portName, int32_t baudRate, int32_t dataBits,
                              int32_t stopBits, int32_t parity) {
    (void)portName;
    (void)baudRate;
    (void)dataBits;
    (void)stopBits;
    (void)parity;
    if (FOpen)
        return FTALK_ILLEGAL_STATE_ERROR;
    ++FUnit->opens;
    Hold(FUnit->holdOpens, FUnit->waiting);
    const int32_t result = FUnit->openResult;
    FOpen = result == 0;
    if (FOpen)
        FUnit->closed = false;
    return result;
}

int32_t TFakeSerialUnit::ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request,
                                       int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    (void)slave;
    (void)requestLength;
    (void)replyLength;
    return FUnit->Answer(function, request, reply);
}
