#include "modbus/MbusMasterFunctions.h"

#include <algorithm>
#include <utility>

std::string ErrorText(int32_t code) {
    switch (code) {
    case 0:
        return "Operation was successful";
    case 1:
        return "Illegal argument error";
    case 2:
        return "Illegal state error";
    case 64:
        return "I/O error class";
    case 65:
        return "I/O error";
    case 66:
        return "Port or socket open error";
    case 67:
        return "Serial port already open";
    case 68:
        return "TCP/IP connection error";
    case 69:
        return "TCP/IP connection was closed by remote peer";
    case 70:
        return "Socket library error";
    case 71:
        return "TCP Port alread bound";
    case 72:
        return "Listen failed";
    case 73:
        return "File descriptors exceeded";
    case 74:
        return "No permission to access serial or TCP port";
    case 75:
        return "TCP Port not available";
    case 128:
        return "Fieldbus protocol error class";
    case 129:
        return "Checksum error";
    case 130:
        return "Invalid frame error";
    case 131:
        return "Invalid reply error";
    case 132:
        return "Reply time-out";
    case 133:
        return "Send time-out";
    case 160:
        return "Modbus exception response";
    case 161:
        return "Illegal Function exception response";
    case 162:
        return "Illegal Data Address exception response";
    case 163:
        return "Illegal Data Value exception response";
    case 164:
        return "Slave Device Failure exception response";
    default:
        return "Unknwon error";
    }
}

bool GatewayFoundNoUnit(int32_t code) {
    return code == FTALK_MBUS_GATEWAY_PATH_UNAVAILABLE_RESPONSE ||
           code == FTALK_MBUS_GATEWAY_TARGET_NO_RESPONSE;
}

namespace {

bool ValidStart(int32_t start) {
    return start >= 1 && start <= 65536;
}

void PutWord(uint8_t* out, int32_t value) {
    out[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    out[1] = static_cast<uint8_t>(value & 0xFF);
}

} // namespace

int32_t MbusMasterFunctions::ReadCoils(int32_t slave, int32_t start, int32_t* values, int32_t count) {
    if (values != nullptr && count > 0)
        std::fill_n(values, count, 0);
    if (values == nullptr || slave < 1 || slave > 255 || !ValidStart(start) || count < 1 || count > 2000)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;

    uint8_t request[4];
    PutWord(request, start - 1);
    PutWord(request + 2, count);
    const int32_t byteCount = (count + 7) / 8;
    const int32_t result = Transaction(slave, 1, request, 4, FData, byteCount + 1);
    if (result != FTALK_SUCCESS)
        return result;
    if (FData[0] != byteCount) {
        ReplyRejected();
        return FTALK_INVALID_REPLY_ERROR;
    }
    for (int32_t j = 0; j < count; ++j)
        values[j] = (FData[1 + j / 8] >> (j % 8)) & 1;
    return FTALK_SUCCESS;
}

int32_t MbusMasterFunctions::ReadRegisters(int32_t function, int32_t slave, int32_t start, int16_t* values,
                                           int32_t count) {
    if (values != nullptr && count > 0)
        std::fill_n(values, count, int16_t{0});
    if (values == nullptr || slave < 1 || slave > 255 || !ValidStart(start) || count < 1 || count > 125)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;

    uint8_t request[4];
    PutWord(request, start - 1);
    PutWord(request + 2, count);
    const int32_t result = Transaction(slave, function, request, 4, FData, 2 * count + 1);
    if (result != FTALK_SUCCESS)
        return result;
    if (FData[0] != 2 * count) {
        ReplyRejected();
        return FTALK_INVALID_REPLY_ERROR;
    }
    for (int32_t i = 0; i < count; ++i)
        values[i] = static_cast<int16_t>(static_cast<uint16_t>(FData[1 + 2 * i] << 8 | FData[2 + 2 * i]));
    return FTALK_SUCCESS;
}

int32_t MbusMasterFunctions::ReadHoldingRegisters(int32_t slave, int32_t start, int16_t* values,
                                                  int32_t count) {
    return ReadRegisters(3, slave, start, values, count);
}

int32_t MbusMasterFunctions::ReadInputRegisters(int32_t slave, int32_t start, int16_t* values,
                                                int32_t count) {
    return ReadRegisters(4, slave, start, values, count);
}

int32_t MbusMasterFunctions::CheckWriteEcho(int32_t slave, const uint8_t* request, bool alternativeValue) {
    if (slave == 0)
        return FTALK_SUCCESS; // nobody answers a broadcast
    // The echo of an earlier write (a reply that came late) must not confirm this one: the
    // address is always this request's; the value is the one sent or the unit's fixed answer.
    const bool sameAddress = FData[0] == request[0] && FData[1] == request[1];
    const bool sameValue = FData[2] == request[2] && FData[3] == request[3];
    if (sameAddress && (sameValue || alternativeValue))
        return FTALK_SUCCESS;
    ReplyRejected();
    return FTALK_INVALID_REPLY_ERROR;
}

int32_t MbusMasterFunctions::WriteSingleCoil(int32_t slave, int32_t address, bool value) {
    if (slave < 0 || slave > 255 || !ValidStart(address))
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    uint8_t request[4];
    PutWord(request, address - 1);
    request[2] = value ? 0xFF : 0x00;
    request[3] = 0x00;
    const int32_t result = Transaction(slave, 5, request, 4, FData, 4);
    if (result != FTALK_SUCCESS)
        return result;
    const bool alternative = FData[2] == 0x00 && FData[3] == 0x01;
    return CheckWriteEcho(slave, request, alternative);
}

int32_t MbusMasterFunctions::WriteSingleRegister(int32_t slave, int32_t address, int16_t value) {
    if (slave < 0 || slave > 255 || !ValidStart(address))
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    uint8_t request[4];
    PutWord(request, address - 1);
    PutWord(request + 2, static_cast<uint16_t>(value));
    const int32_t result = Transaction(slave, 6, request, 4, FData, 4);
    if (result != FTALK_SUCCESS)
        return result;
    const bool alternative = FData[2] == 0x00 && FData[3] == 0x02;
    return CheckWriteEcho(slave, request, alternative);
}

int32_t MbusMasterFunctions::SetRetryCount(int32_t count) {
    if (count < 0 || count > 10)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    if (IsOpen())
        return FTALK_ILLEGAL_STATE_ERROR;
    FRetryCount = count;
    return FTALK_SUCCESS;
}

void MbusMasterFunctions::ReportFrame(TTrafficDirection direction, TTrafficFraming framing,
                                      std::vector<uint8_t> bytes) {
    TTrafficSink* sink = TrafficSink();
    if (sink == nullptr)
        return;
    TTrafficFrame frame;
    frame.timeUs = TrafficNowUs();
    frame.direction = direction;
    frame.bytes = std::move(bytes);
    frame.framing = framing;
    if (direction == TTrafficDirection::Sent)
        FLastSentUs = frame.timeUs;
    if (direction == TTrafficDirection::NoReply)
        frame.waitedMs = static_cast<int32_t>((frame.timeUs - FLastSentUs) / 1000);
    sink->Frame(frame);
}
