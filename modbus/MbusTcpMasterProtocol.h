#pragma once
// Modbus TCP to a gateway: each request carries the MBAP header (transaction id, protocol id 0,
// length, unit id) and the reply must carry the same transaction id, unit id and function code.
#include "modbus/MbusTcpMasterBase.h"

#include <cstdint>

class MbusTcpMasterProtocol : public MbusTcpMasterBase {
public:
    static constexpr int32_t HeaderLength = 7; // MBAP with the unit id
    // The length field counts the unit id and the PDU (at most 253 bytes).
    static constexpr int32_t MaxLengthField = 254;
    static constexpr int32_t MaxFrameLength = HeaderLength - 1 + MaxLengthField;

    MbusTcpMasterProtocol() = default;
    explicit MbusTcpMasterProtocol(std::unique_ptr<TcpPort> port);

    uint16_t TransactionId() const { return FTransactionId; }

protected:
    int32_t ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                          uint8_t* reply, int32_t replyLength) override;

private:
    // Reads frames until the one that answers this request, discarding replies to earlier
    // ones; all within `deadline`. The function code and data land in FFrame.
    int32_t ReceiveReply(int32_t slave, int32_t function, int32_t* length,
                         TcpPort::Clock::time_point deadline);

    // To the traffic sink (set): a whole reply, header and PDU; what came of one and that the
    // rest did not.
    void ReportReply(const uint8_t* header, int32_t length);
    void ReportPartialReply(const uint8_t* header, int32_t length);

    uint16_t FTransactionId = 0;
    uint8_t FFrame[MaxFrameLength] = {};
};
