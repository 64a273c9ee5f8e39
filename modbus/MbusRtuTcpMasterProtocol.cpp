#include "modbus/MbusRtuTcpMasterProtocol.h"

#include "modbus/MbusRtuMasterProtocol.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <algorithm>
#include <chrono>

Q_DECLARE_LOGGING_CATEGORY(lcModbusLowLevel)

MbusRtuTcpMasterProtocol::MbusRtuTcpMasterProtocol(std::unique_ptr<TcpPort> port)
    : MbusTcpMasterBase(std::move(port)) {}

void MbusRtuTcpMasterProtocol::ReplyRejected() {
    FReplyMayBeLate = true;
    MbusTcpMasterBase::ReplyRejected();
}

int32_t MbusRtuTcpMasterProtocol::SendIgnoredFrame(int32_t listenMs) {
    if (!IsOpen())
        return FTALK_ILLEGAL_STATE_ERROR;
    uint8_t heard = 0;
    if (FReplyMayBeLate &&
        FPort->Read(&heard, 1, TcpPort::Clock::now() + std::chrono::milliseconds(std::max(listenMs, 0))) ==
            TcpPort::Success) {
        Report(TTrafficDirection::Received, TTrafficFraming::Rtu, &heard, 1);
        return MbusRtuMasterProtocol::LateReplyHeard;
    }
    // A reply later still reaches the next exchange as a frame that is not its own, which it
    // refuses: the connection need not be made again for it.
    FReplyMayBeLate = false;
    if (const int32_t prepared = Prepare(); prepared != FTALK_SUCCESS)
        return prepared;
    uint8_t frame[MbusRtuMasterProtocol::IgnoredFrameLength];
    MbusRtuMasterProtocol::IgnoredFrame(frame);
    const int32_t sent = FPort->Write(frame, MbusRtuMasterProtocol::IgnoredFrameLength, FTimeout);
    if (sent == TcpPort::Success)
        Report(TTrafficDirection::Sent, TTrafficFraming::Rtu, frame,
               MbusRtuMasterProtocol::IgnoredFrameLength);
    return sent == TcpPort::Success ? FTALK_SUCCESS : PortFailure(sent, true);
}

int32_t MbusRtuTcpMasterProtocol::ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request,
                                                int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    if (requestLength < 0 || requestLength + 4 > MaxFrameLength || replyLength + 4 > MaxFrameLength)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    const int32_t expected = replyLength + 4;
    if (FReplyMayBeLate)
        FPort->Close();
    FReplyMayBeLate = false;
    if (const int32_t prepared = Prepare(); prepared != FTALK_SUCCESS)
        return prepared;

    const int32_t frameLength =
        MbusRtuMasterProtocol::BuildFrame(FFrame, slave, function, request, requestLength);
    qCDebug(lcModbusLowLevel, "send %s",
            QByteArray(reinterpret_cast<const char*>(FFrame), frameLength).toHex(' ').constData());
    const int32_t sent = FPort->Write(FFrame, frameLength, FTimeout);
    if (sent != TcpPort::Success)
        return PortFailure(sent, true);
    Report(TTrafficDirection::Sent, TTrafficFraming::Rtu, FFrame, frameLength);
    if (slave == 0 || replyLength <= 0)
        return FTALK_SUCCESS;

    // One deadline for the whole reply: bytes that trickle in cannot stretch it.
    const auto deadline = TcpPort::Clock::now() + std::chrono::milliseconds(FTimeout);
    // Five bytes are the shortest reply (an exception); they tell whether more follow.
    int32_t received = FPort->Read(FFrame, 5, deadline);
    const int32_t head = received == TcpPort::Success ? 5 : 0;
    if (received == TcpPort::Success && (FFrame[1] & 0x80) == 0 && expected > 5)
        received = FPort->Read(FFrame + 5, expected - 5, deadline);
    if (received != TcpPort::Success) {
        ReportMissingReply(FFrame, head, expected, TTrafficFraming::Rtu);
        FReplyMayBeLate = true;
        return PortFailure(received, false);
    }
    const int32_t length = (FFrame[1] & 0x80) == 0 && expected > 5 ? expected : 5;
    qCDebug(lcModbusLowLevel, "recv %s",
            QByteArray(reinterpret_cast<const char*>(FFrame), length).toHex(' ').constData());
    Report(TTrafficDirection::Received, TTrafficFraming::Rtu, FFrame, length);

    return MbusRtuMasterProtocol::TakeReply(FFrame, length, slave, function, reply, replyLength,
                                            FReplyMayBeLate);
}
