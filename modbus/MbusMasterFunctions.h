#pragma once
// The Modbus master function layer: turns the operations the program uses into request data,
// checks the replies, and returns an error code (0 for success). It never throws.
// Addresses are Modbus reference numbers (1 is the first object); the wire carries number - 1.
#include "modbus/Trafficframe.h"

#include <atomic>
#include <cstdint>
#include <string>

// Error codes shared by the whole master stack.
enum : int32_t {
    FTALK_SUCCESS = 0,
    FTALK_ILLEGAL_ARGUMENT_ERROR = 1,
    FTALK_ILLEGAL_STATE_ERROR = 2,
    FTALK_IO_ERROR_CLASS = 64,
    FTALK_IO_ERROR = 65,
    FTALK_OPEN_ERR = 66,
    FTALK_PORT_ALREADY_OPEN = 67,
    FTALK_TCPIP_CONNECT_ERR = 68,
    FTALK_CONNECTION_WAS_CLOSED = 69,
    FTALK_SOCKET_LIB_ERROR = 70,
    FTALK_PORT_ALREADY_BOUND = 71,
    FTALK_LISTEN_FAILED = 72,
    FTALK_FILEDES_EXCEEDED = 73,
    FTALK_PORT_NO_ACCESS = 74,
    FTALK_PORT_NOT_AVAIL = 75,
    FTALK_BUS_PROTOCOL_ERROR_CLASS = 128,
    FTALK_CHECKSUM_ERROR = 129,
    FTALK_INVALID_FRAME_ERROR = 130,
    FTALK_INVALID_REPLY_ERROR = 131,
    FTALK_REPLY_TIMEOUT_ERROR = 132,
    FTALK_SEND_TIMEOUT_ERROR = 133,
    FTALK_MBUS_EXCEPTION_RESPONSE = 160,
    FTALK_MBUS_ILLEGAL_FUNCTION_RESPONSE = 161,
    FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE = 162,
    FTALK_MBUS_ILLEGAL_VALUE_RESPONSE = 163,
    FTALK_MBUS_SLAVE_FAILURE_RESPONSE = 164,
    // Exceptions 10 and 11, given by a gateway for the unit behind it.
    FTALK_MBUS_GATEWAY_PATH_UNAVAILABLE_RESPONSE = 170,
    FTALK_MBUS_GATEWAY_TARGET_NO_RESPONSE = 171,
};

// The text of an error code; "Unknwon error" for a code without one.
std::string ErrorText(int32_t code);

// A gateway answered that no unit answers at the address (exception 10 or 11): the address is
// free, as a reply time-out on a serial line tells.
bool GatewayFoundNoUnit(int32_t code);

class MbusMasterFunctions {
public:
    MbusMasterFunctions() = default;
    virtual ~MbusMasterFunctions() = default;
    MbusMasterFunctions(const MbusMasterFunctions&) = delete;
    MbusMasterFunctions& operator=(const MbusMasterFunctions&) = delete;

    virtual bool IsOpen() const { return false; }
    virtual void Close() {}
    // One request and its reply, with repetition where the transport does it. `request` holds
    // the bytes after the function code; `reply` receives the `replyLength` bytes that follow
    // the function code in the reply.
    virtual int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request,
                                int32_t requestLength, uint8_t* reply, int32_t replyLength) = 0;

    // Function code 1: slave 1..255, start 1..65536, count 1..2000. `values` receives 0 or 1.
    int32_t ReadCoils(int32_t slave, int32_t start, int32_t* values, int32_t count);
    // Function code 3: slave 1..255, start 1..65536, count 1..125.
    int32_t ReadHoldingRegisters(int32_t slave, int32_t start, int16_t* values, int32_t count);
    // Function code 4: as function code 3.
    int32_t ReadInputRegisters(int32_t slave, int32_t start, int16_t* values, int32_t count);
    // Function code 5: slave 0 (broadcast)..255, address 1..65536.
    int32_t WriteSingleCoil(int32_t slave, int32_t address, bool value);
    // Function code 6: slave 0 (broadcast)..255, address 1..65536.
    int32_t WriteSingleRegister(int32_t slave, int32_t address, int16_t value);
    // 0..10; refused with 2 while the port is open.
    int32_t SetRetryCount(int32_t count);

    // Every frame sent and received from now on, and every reply that did not come, goes to
    // `sink`; null stops it. May be called from any thread, also during an exchange; the sink
    // must outlive the exchange that may be using it.
    virtual void SetTrafficSink(TTrafficSink* sink) { FTrafficSink.store(sink, std::memory_order_release); }
    TTrafficSink* TrafficSink() const { return FTrafficSink.load(std::memory_order_acquire); }

    int32_t RetryCount() const { return FRetryCount; }
    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t milliseconds) { FTimeout = milliseconds; }

protected:
    // The function layer refused a reply (131): it may belong to another request, so the
    // transport must not trust what the line holds now.
    virtual void ReplyRejected() {}

    // To the traffic sink, if any: with none set, one pointer test per frame is all it costs.
    void Report(TTrafficDirection direction, TTrafficFraming framing, const uint8_t* bytes, int32_t length) {
        if (TrafficSink() != nullptr)
            ReportFrame(direction, framing, std::vector<uint8_t>(bytes, bytes + length));
    }
    // A missing reply is reported with the time since the last frame sent.
    void ReportFrame(TTrafficDirection direction, TTrafficFraming framing, std::vector<uint8_t> bytes);
    void ReportNoReply(TTrafficFraming framing) { ReportFrame(TTrafficDirection::NoReply, framing, {}); }

    int32_t FRetryCount = 0;
    int32_t FTimeout = 1000;
    uint8_t FData[260] = {};
    std::atomic<TTrafficSink*> FTrafficSink{nullptr};

private:
    int32_t ReadRegisters(int32_t function, int32_t slave, int32_t start, int16_t* values, int32_t count);
    // Checks the echo of a write reply in FData against the request data sent.
    int32_t CheckWriteEcho(int32_t slave, const uint8_t* request, bool alternativeValue);

    int64_t FLastSentUs = 0;
};
