#pragma once
// An in-memory unit for tests: it answers function codes 1, 3, 4, 5 and 6 from its own coil and
// register images, records every request, and can fail chosen requests. Two masters talk to it:
// TFakeUnitMaster (the function layer alone) and TFakeSerialUnit (a serial master whose line is
// the fake unit, for the serial manager and its workers).
#include "modbus/MbusMasterFunctions.h"
#include "modbus/MbusSerialMasterProtocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class TFakeUnit {
public:
    struct Request {
        int32_t function;
        int32_t address; // wire address + 1 (reference number)
        int32_t countOrValue;
    };

    TFakeUnit();

    // Answers one request; the result is what the line would give (0, or an error code).
    int32_t Answer(int32_t function, const uint8_t* request, uint8_t* reply);

    std::vector<uint8_t> coils;      // index = reference number
    std::vector<uint16_t> registers; // index = reference number
    std::vector<uint16_t> inputs;    // index = reference number
    std::vector<Request> requests;
    int32_t failRequest = -1; // 0-based index of the request that fails
    int32_t failCode = FTALK_REPLY_TIMEOUT_ERROR;
    std::atomic<bool> failAll{false};
    std::atomic<int> delayMs{0};
    std::atomic<int32_t> openResult{0};
    // While set, a request (an open) waits on the line; `waiting` says one does.
    std::atomic<bool> holdRequests{false};
    std::atomic<bool> holdOpens{false};
    std::atomic<int> waiting{0};
    std::atomic<int> opens{0};
    std::atomic<bool> closed{false};
    // Guards the images and the request log: workers answer while tests look.
    std::mutex lock;
};

// The function layer straight on a fake unit (no framing, no repetition).
class TFakeUnitMaster : public MbusMasterFunctions, public TFakeUnit {
public:
    bool IsOpen() const override { return open; }
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* reply, int32_t replyLength) override;

    bool open = true;
};

class TFakeSerialUnit : public MbusSerialMasterProtocol {
public:
    explicit TFakeSerialUnit(std::shared_ptr<TFakeUnit> unit);
    ~TFakeSerialUnit() override;

    bool IsOpen() const override { return FOpen; }
    void Close() override;
    int32_t Open(const std::string& portName, int32_t baudRate, int32_t dataBits, int32_t stopBits,
                 int32_t parity) override;

protected:
    int32_t ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                          uint8_t* reply, int32_t replyLength) override;

private:
    std::shared_ptr<TFakeUnit> FUnit;
    std::atomic<bool> FOpen{false};
};
