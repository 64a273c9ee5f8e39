#pragma once
// A master whose "line" is an in-memory unit: it answers function codes 1, 3, 4, 5 and 6 from
// its own coil and register images, records every request, and can fail chosen requests.
#include "modbus/MbusMasterFunctions.h"

#include <cstdint>
#include <vector>

class TFakeUnitMaster : public MbusMasterFunctions {
public:
    struct Request {
        int32_t function;
        int32_t address; // wire address + 1 (reference number)
        int32_t countOrValue;
    };

    TFakeUnitMaster();

    std::vector<uint8_t> coils;      // index = reference number
    std::vector<uint16_t> registers; // index = reference number
    std::vector<uint16_t> inputs;    // index = reference number
    std::vector<Request> requests;
    int32_t failRequest = -1; // 0-based index of the request that fails
    int32_t failCode = FTALK_REPLY_TIMEOUT_ERROR;
    bool open = true;

    bool IsOpen() const override { return open; }
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* reply, int32_t replyLength) override;
};
