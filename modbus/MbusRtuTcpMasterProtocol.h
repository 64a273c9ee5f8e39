#pragma once
// Modbus RTU frames (address, function code, data, CRC) carried over a TCP connection to a
// gateway that passes them to its serial line as they are.
#include "modbus/MbusTcpMasterBase.h"

#include <cstdint>

class MbusRtuTcpMasterProtocol : public MbusTcpMasterBase {
public:
    static constexpr int32_t MaxFrameLength = 296;

    MbusRtuTcpMasterProtocol() = default;
    explicit MbusRtuTcpMasterProtocol(std::unique_ptr<TcpPort> port);

    // MbusRtuMasterProtocol::SendIgnoredFrame through the gateway: after an exchange that went
    // without its reply, listens `listenMs` on the connection and, when nothing came, sends the
    // ignored frame over it and keeps the connection. 0, LateReplyHeard, or the code of a failure.
    int32_t SendIgnoredFrame(int32_t listenMs);

protected:
    int32_t ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                          uint8_t* reply, int32_t replyLength) override;
    void ReplyRejected() override;

private:
    // An exchange ended without its own reply, which may still be on its way. RTU frames carry
    // nothing that ties a reply to its request, so the next request goes over a new connection,
    // where that reply cannot come.
    bool FReplyMayBeLate = false;
    uint8_t FFrame[MaxFrameLength] = {};
};
