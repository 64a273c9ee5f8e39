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
