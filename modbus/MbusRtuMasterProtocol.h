#pragma once
// Modbus RTU framing on the serial master: address, function code, data and CRC-16, with a
// quiet line before each request.
#include "modbus/MbusSerialMasterProtocol.h"

#include <cstdint>

class MbusRtuMasterProtocol : public MbusSerialMasterProtocol {
public:
    static constexpr int32_t MaxFrameLength = 296;

    MbusRtuMasterProtocol() = default;
    explicit MbusRtuMasterProtocol(std::unique_ptr<SerialPort> port);

    // Also sets the quiet-line interval, about four characters of 11 bits at the baud rate.
    int32_t Open(const std::string& portName, int32_t baudRate, int32_t dataBits, int32_t stopBits,
                 int32_t parity) override;

    uint32_t SilentInterval() const { return FSilentInterval; }

    // Writes address, function code, data and CRC into `frame`; returns the frame length.
    static int32_t BuildFrame(uint8_t* frame, int32_t slave, int32_t function, const uint8_t* data,
                              int32_t length);
    // Checks a received frame against the request, in this order: CRC (129), slave address and
    // function code (130), exception reply (160 OR the exception code). 0 when it is a reply.
    static int32_t CheckReplyFrame(const uint8_t* frame, int32_t length, int32_t slave, int32_t function);
    // Checks a received frame and copies the `replyLength` bytes after its function code to
    // `reply`. A spoilt frame, or another's, sets `replyMayBeLate`: this request's reply is then
    // unaccounted for (an exception reply is this request's own).
    static int32_t TakeReply(const uint8_t* frame, int32_t length, int32_t slave, int32_t function,
                             uint8_t* reply, int32_t replyLength, bool& replyMayBeLate);

    // What SendIgnoredFrame returns when bytes came instead: a late reply, most likely, to the
    // exchange before. Nothing was sent; the next exchange waits out a quiet line as usual.
    static constexpr int32_t LateReplyHeard = 1;
    // After an exchange that went without its reply: listens `listenMs` (at least the quiet-line
    // interval) and, when the line stayed quiet, sends the frame of IgnoredFrame, so the next
    // request goes out after the quiet-line interval only. 0 when it was sent, LateReplyHeard,
    // or the code of a failed write.
    int32_t SendIgnoredFrame(int32_t listenMs);
    // A broadcast read of holding registers with its CRC inverted; see the .cpp for why.
    static constexpr int32_t IgnoredFrameLength = 8;
    static void IgnoredFrame(uint8_t* frame);

protected:
    int32_t ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                          uint8_t* reply, int32_t replyLength) override;
    void ReplyRejected() override { FReplyMayBeLate = true; }

private:
    // Throws away bytes until the line has been quiet for `quietMs`, of which `alreadyQuietMs`
    // have passed; 65 when it is not within `limitMs` in all.
    int32_t WaitForQuietLine(int32_t quietMs, int64_t limitMs, int32_t alreadyQuietMs = 0);
    // To the traffic sink: the head of the reply when it came, and that the reply did not.
    void ReportMissingReply(bool gotHead);

    uint32_t FSilentInterval = 1;
    // An exchange ended without its own reply, which may still be on its way.
    bool FReplyMayBeLate = false;
    uint8_t FFrame[MaxFrameLength] = {};
};
