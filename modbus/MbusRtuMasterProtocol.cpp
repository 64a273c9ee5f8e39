#include "modbus/MbusRtuMasterProtocol.h"

#include "modbus/Crc16.h"
#include "modbus/Unitmap.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <algorithm>
#include <chrono>
#include <cstring>

// Off by default; QT_LOGGING_RULES="dezadizi.modbus.lowlevel.debug=true" shows every frame.
Q_LOGGING_CATEGORY(lcModbusLowLevel, "dezadizi.modbus.lowlevel", QtWarningMsg)

namespace {

QByteArray Hex(const uint8_t* bytes, int32_t length) {
    return QByteArray(reinterpret_cast<const char*>(bytes), length).toHex(' ');
}

} // namespace

MbusRtuMasterProtocol::MbusRtuMasterProtocol(std::unique_ptr<SerialPort> port)
    : MbusSerialMasterProtocol(std::move(port)) {}

int32_t MbusRtuMasterProtocol::Open(const std::string& portName, int32_t baudRate, int32_t dataBits,
                                    int32_t stopBits, int32_t parity) {
    // 11 bits a character, four characters: 9600 baud gives 5 ms. A baud rate of 0 or less is
    // refused by the port's configuration below; the interval then only has to stay sane.
    const double interval = baudRate > 0 ? Unitmap::CharacterBits * 1000.0 / baudRate * 4 + 0.5 : 1.0;
    FSilentInterval = interval >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(interval);
    if (FSilentInterval == 0)
        FSilentInterval = 1;
    if (dataBits != 8)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    return MbusSerialMasterProtocol::Open(portName, baudRate, dataBits, stopBits, parity);
}

int32_t MbusRtuMasterProtocol::BuildFrame(uint8_t* frame, int32_t slave, int32_t function,
                                          const uint8_t* data, int32_t length) {
    frame[0] = static_cast<uint8_t>(slave);
    frame[1] = static_cast<uint8_t>(function);
    if (length > 0)
        std::memcpy(frame + 2, data, static_cast<size_t>(length));
    return static_cast<int32_t>(AppendCrc16(frame, static_cast<size_t>(length) + 2));
}

int32_t MbusRtuMasterProtocol::CheckReplyFrame(const uint8_t* frame, int32_t length, int32_t slave,
                                               int32_t function) {
    if (length < 4 || !HasValidCrc16(frame, static_cast<size_t>(length)))
        return FTALK_CHECKSUM_ERROR;
    if (frame[0] != static_cast<uint8_t>(slave) || (frame[1] & 0x7F) != static_cast<uint8_t>(function))
        return FTALK_INVALID_FRAME_ERROR;
    if (frame[1] & 0x80)
        return FTALK_MBUS_EXCEPTION_RESPONSE | frame[2];
    return FTALK_SUCCESS;
}

void MbusRtuMasterProtocol::IgnoredFrame(uint8_t* frame) {
    // Some slave stacks (libmodbus among them) take the first frame after a request to another
    // address for that address's reply and skip it unread; after a request nobody answered, they
    // would skip the next request instead. This frame is what they skip:
    // - its CRC is wrong, so every unit that follows the serial line rules discards it unanswered
    //   (and it is a broadcast, which no unit answers anyway, and a read, which changes nothing);
    // - it is 8 bytes long read either way such a stack reads: as a request (function 3: address,
    //   function, start, count, CRC) and as a reply (function 3 with a byte count of 3), so it
    //   takes exactly this frame and none of the request after it;
    // - a stack that expects no reply just now drops it too: a broadcast passes its address
    //   filter, then fails its CRC check, and does not leave it waiting for a reply.
    const uint8_t data[] = {0x03, 0x00, 0x00, 0x00};
    BuildFrame(frame, 0, 3, data, sizeof data);
    frame[IgnoredFrameLength - 2] ^= 0xFF;
    frame[IgnoredFrameLength - 1] ^= 0xFF;
}

int32_t MbusRtuMasterProtocol::SendIgnoredFrame(int32_t listenMs) {
    if (!IsOpen())
        return FTALK_ILLEGAL_STATE_ERROR;
    const int32_t silentInterval =
        static_cast<int32_t>(FSilentInterval > 0x7FFFFFFF ? 0x7FFFFFFF : FSilentInterval);
    // Bytes already waiting are read at once: they came after the exchange gave up.
    uint8_t heard = 0;
    if (FPort->Read(&heard, 1, std::max(listenMs, silentInterval)) == SerialPort::Success) {
        qCDebug(lcModbusLowLevel, "late byte %02x", heard);
        Report(TTrafficDirection::Received, TTrafficFraming::Rtu, &heard, 1);
        FReplyMayBeLate = true;
        return LateReplyHeard;
    }
    // The caller has listened as long as it chose; a reply later still reaches the next
    // exchange as a frame that is not its own, which it refuses.
    FReplyMayBeLate = false;
    uint8_t frame[IgnoredFrameLength];
    IgnoredFrame(frame);
    qCDebug(lcModbusLowLevel, "send %s", Hex(frame, IgnoredFrameLength).constData());
    const int32_t sent = FPort->Write(frame, IgnoredFrameLength, FTimeout);
    // The log shows every frame that went over the line, this one too.
    if (sent == SerialPort::Success)
        Report(TTrafficDirection::Sent, TTrafficFraming::Rtu, frame, IgnoredFrameLength);
    FPort->Flush();
    if (sent != SerialPort::Success)
        return sent == SerialPort::Timeout ? FTALK_SEND_TIMEOUT_ERROR : FTALK_IO_ERROR;
    return FTALK_SUCCESS;
}

int32_t MbusRtuMasterProtocol::WaitForQuietLine(int32_t quietMs, int64_t limitMs, int32_t alreadyQuietMs) {
    // Bounded as a whole: a line that never falls quiet (a second master, a floating RS-485
    // pair) must not hold the worker, and the lock it holds, forever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    // The line fell quiet with the last byte on it, not when this wait began: the time spent
    // since then (the reply handled, the next request chosen) is not waited for twice. What is
    // left is still watched, so a byte that comes meanwhile starts the quiet line again.
    int32_t wait = quietMs - std::clamp(alreadyQuietMs, 0, quietMs);
    for (;;) {
        uint8_t noise = 0;
        if (FPort->Read(&noise, 1, wait) != SerialPort::Success)
            return FTALK_SUCCESS;
        qCDebug(lcModbusLowLevel, "discarded %02x", noise);
        wait = quietMs;
        if (std::chrono::steady_clock::now() >= deadline)
            return FTALK_IO_ERROR;
    }
}

void MbusRtuMasterProtocol::ReportMissingReply(bool gotHead) {
    // The port does not tell how much of a longer reply came; the first five bytes did.
    if (gotHead)
        Report(TTrafficDirection::Received, TTrafficFraming::Rtu, FFrame, 5);
    ReportNoReply(TTrafficFraming::Rtu);
}

int32_t MbusRtuMasterProtocol::ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request,
                                             int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    if (requestLength < 0 || requestLength + 4 > MaxFrameLength || replyLength + 4 > MaxFrameLength)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    const int32_t expected = replyLength + 4;

    const int32_t frameLength = BuildFrame(FFrame, slave, function, request, requestLength);
    FPort->Purge();
    const int32_t silentInterval =
        static_cast<int32_t>(FSilentInterval > 0x7FFFFFFF ? 0x7FFFFFFF : FSilentInterval);
    // After an exchange that went without its own reply, that reply may still come and would be
    // taken for this request's: the line must first stay quiet for a whole time-out. The limit
    // lets the late reply start up to two time-outs on and take up to one to arrive.
    const int32_t quiet = FReplyMayBeLate ? WaitForQuietLine(FTimeout, 4 * static_cast<int64_t>(FTimeout))
                                          : WaitForQuietLine(silentInterval, FTimeout, FPort->QuietMs());
    if (quiet != FTALK_SUCCESS) {
        qCDebug(lcModbusLowLevel, "line never fell quiet");
        return quiet;
    }
    FReplyMayBeLate = false;

    qCDebug(lcModbusLowLevel, "send %s", Hex(FFrame, frameLength).constData());
    const int32_t sent = FPort->Write(FFrame, frameLength, FTimeout);
    // While the frame leaves the line, not before: the sink's time costs no wire time.
    if (sent == SerialPort::Success)
        Report(TTrafficDirection::Sent, TTrafficFraming::Rtu, FFrame, frameLength);
    FPort->Flush();
    if (sent != SerialPort::Success)
        return sent == SerialPort::Timeout ? FTALK_SEND_TIMEOUT_ERROR : FTALK_IO_ERROR;
    if (slave == 0 || replyLength <= 0)
        return FTALK_SUCCESS;

    // Five bytes are the shortest reply (an exception); they tell whether more follow.
    int32_t received = FPort->Read(FFrame, 5, FTimeout);
    const bool gotHead = received == SerialPort::Success;
    if (received == SerialPort::Success && (FFrame[1] & 0x80) == 0 && expected > 5)
        received = FPort->Read(FFrame + 5, expected - 5, FTimeout);
    if (received != SerialPort::Success) {
        qCDebug(lcModbusLowLevel, "no complete reply (port result %d)", received);
        if (TrafficSink() != nullptr)
            ReportMissingReply(gotHead);
        FReplyMayBeLate = true;
        return received == SerialPort::Timeout ? FTALK_REPLY_TIMEOUT_ERROR : FTALK_IO_ERROR;
    }
    const int32_t length = (FFrame[1] & 0x80) == 0 && expected > 5 ? expected : 5;
    qCDebug(lcModbusLowLevel, "recv %s", Hex(FFrame, length).constData());
    Report(TTrafficDirection::Received, TTrafficFraming::Rtu, FFrame, length);

    return TakeReply(FFrame, length, slave, function, reply, replyLength, FReplyMayBeLate);
}

int32_t MbusRtuMasterProtocol::TakeReply(const uint8_t* frame, int32_t length, int32_t slave,
                                         int32_t function, uint8_t* reply, int32_t replyLength,
                                         bool& replyMayBeLate) {
    const int32_t checked = CheckReplyFrame(frame, length, slave, function);
    if (checked == FTALK_CHECKSUM_ERROR || checked == FTALK_INVALID_FRAME_ERROR)
        replyMayBeLate = true;
    if (checked != FTALK_SUCCESS)
        return checked;
    if (replyLength > 0)
        std::memcpy(reply, frame + 2, static_cast<size_t>(replyLength));
    return FTALK_SUCCESS;
}
