#include "modbus/MbusTcpMasterProtocol.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <cstring>
#include <utility>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcModbusLowLevel)

namespace {

QByteArray Hex(const uint8_t* bytes, int32_t length) {
    return QByteArray(reinterpret_cast<const char*>(bytes), length).toHex(' ');
}

uint16_t Word(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

void PutWord(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    out[1] = static_cast<uint8_t>(value & 0xFF);
}

} // namespace

MbusTcpMasterProtocol::MbusTcpMasterProtocol(std::unique_ptr<TcpPort> port)
    : MbusTcpMasterBase(std::move(port)) {}

void MbusTcpMasterProtocol::ReportReply(const uint8_t* header, int32_t length) {
    std::vector<uint8_t> bytes(header, header + HeaderLength);
    bytes.insert(bytes.end(), FFrame, FFrame + length);
    ReportFrame(TTrafficDirection::Received, TTrafficFraming::Tcp, std::move(bytes));
}

void MbusTcpMasterProtocol::ReportPartialReply(const uint8_t* header, int32_t length) {
    uint8_t frame[MaxFrameLength];
    std::memcpy(frame, header, HeaderLength);
    ReportMissingReply(frame, HeaderLength, HeaderLength + length, TTrafficFraming::Tcp);
}

int32_t MbusTcpMasterProtocol::ReceiveReply(int32_t slave, int32_t function, int32_t* length,
                                            TcpPort::Clock::time_point deadline) {
    for (;;) {
        uint8_t header[HeaderLength];
        const int32_t got = FPort->Read(header, HeaderLength, deadline);
        if (got != TcpPort::Success) {
            const bool partFrame = FPort->Waiting() > 0;
            ReportMissingReply(header, 0, HeaderLength, TTrafficFraming::Tcp);
            // Part of a frame came: where the next one starts is lost with it.
            if (got == TcpPort::Timeout && partFrame)
                FPort->Close();
            return PortFailure(got, false);
        }
        const int32_t lengthField = Word(header + 4);
        if (Word(header + 2) != 0 || lengthField < 2 || lengthField > MaxLengthField) {
            Report(TTrafficDirection::Received, TTrafficFraming::Tcp, header, HeaderLength);
            qCDebug(lcModbusLowLevel, "bad header %s", Hex(header, HeaderLength).constData());
            FPort->Close(); // no telling where the next frame starts
            return Fail(FTALK_INVALID_FRAME_ERROR);
        }
        *length = lengthField - 1;
        const int32_t body = FPort->Read(FFrame, *length, deadline);
        if (body != TcpPort::Success) {
            if (TrafficSink() != nullptr)
                ReportPartialReply(header, *length);
            if (body == TcpPort::Timeout)
                FPort->Close();
            return PortFailure(body, false);
        }
        qCDebug(lcModbusLowLevel, "recv %s %s", Hex(header, HeaderLength).constData(),
                Hex(FFrame, *length).constData());
        if (TrafficSink() != nullptr)
            ReportReply(header, *length);
        const uint16_t age = static_cast<uint16_t>(FTransactionId - Word(header));
        if (age == 0) {
            if (header[6] != static_cast<uint8_t>(slave) || (FFrame[0] & 0x7F) != function)
                return Fail(FTALK_INVALID_FRAME_ERROR);
            return FTALK_SUCCESS;
        }
        // A reply to an earlier request, come after its time-out: never this one's.
        if (age >= 0x8000) {
            FPort->Close(); // an id never sent: the peer is not following the exchange
            return Fail(FTALK_INVALID_FRAME_ERROR);
        }
        if (TcpPort::Clock::now() >= deadline)
            return Fail(FTALK_REPLY_TIMEOUT_ERROR);
    }
}

int32_t MbusTcpMasterProtocol::ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request,
                                             int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    if (requestLength < 0 || requestLength + 2 > MaxLengthField || replyLength < 0 ||
        replyLength + 2 > MaxLengthField)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    if (const int32_t prepared = Prepare(); prepared != FTALK_SUCCESS)
        return prepared;

    ++FTransactionId;
    PutWord(FFrame, FTransactionId);
    PutWord(FFrame + 2, 0);
    PutWord(FFrame + 4, static_cast<uint32_t>(requestLength + 2));
    FFrame[6] = static_cast<uint8_t>(slave);
    FFrame[7] = static_cast<uint8_t>(function);
    if (requestLength > 0)
        std::memcpy(FFrame + 8, request, static_cast<size_t>(requestLength));
    qCDebug(lcModbusLowLevel, "send %s", Hex(FFrame, requestLength + 8).constData());
    const int32_t sent = FPort->Write(FFrame, requestLength + 8, FTimeout);
    if (sent != TcpPort::Success)
        return PortFailure(sent, true);
    Report(TTrafficDirection::Sent, TTrafficFraming::Tcp, FFrame, requestLength + 8);
    // Unit 0 is the broadcast the gateway passes on; nobody answers it.
    if (slave == 0 || replyLength <= 0)
        return FTALK_SUCCESS;

    const auto deadline = TcpPort::Clock::now() + std::chrono::milliseconds(FTimeout);
    int32_t length = 0;
    if (const int32_t received = ReceiveReply(slave, function, &length, deadline); received != FTALK_SUCCESS)
        return received;
    if (FFrame[0] & 0x80)
        return length == 2 ? FTALK_MBUS_EXCEPTION_RESPONSE | FFrame[1] : Fail(FTALK_INVALID_FRAME_ERROR);
    if (length != replyLength + 1)
        return Fail(FTALK_INVALID_FRAME_ERROR);
    std::memcpy(reply, FFrame + 1, static_cast<size_t>(replyLength));
    return FTALK_SUCCESS;
}
