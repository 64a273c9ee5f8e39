#include "modbus/Trafficdecoder.h"

#include "base/Csv.h"
#include "modbus/Crc16.h"
#include "modbus/Modbusnames.h"

#include <algorithm>
#include <cstdio>

namespace {

// Reads the fields of a PDU in order; a field past the end marks the frame truncated.
class TPduReader {
public:
    TPduReader(const uint8_t* bytes, size_t length, TDecodedFrame& out)
        : FBytes(bytes), FLength(length), FOut(out) {}

    std::optional<int32_t> Byte() {
        if (FAt + 1 > FLength)
            return Short();
        return FBytes[FAt++];
    }
    std::optional<int32_t> Word() {
        if (FAt + 2 > FLength)
            return Short();
        const int32_t word = FBytes[FAt] << 8 | FBytes[FAt + 1];
        FAt += 2;
        return word;
    }
    void Start() {
        FOut.wireAddress = Word();
        if (FOut.wireAddress)
            FOut.reference = *FOut.wireAddress + 1;
    }
    void ByteCountAndData() {
        FOut.byteCount = Byte();
        if (!FOut.byteCount)
            return;
        const size_t wanted = static_cast<size_t>(*FOut.byteCount);
        Data(wanted);
        if (FOut.data.size() < wanted)
            Short();
    }
    // Up to `most` of the bytes left.
    void Data(size_t most) {
        const size_t take = std::min(most, FLength - FAt);
        FOut.data.assign(FBytes + FAt, FBytes + FAt + take);
        FAt += take;
    }

private:
    std::optional<int32_t> Short() {
        FOut.truncated = true;
        FAt = FLength;
        return std::nullopt;
    }

    const uint8_t* FBytes;
    size_t FLength;
    size_t FAt = 0;
    TDecodedFrame& FOut;
};

void DecodePdu(const uint8_t* pdu, size_t length, bool request, TDecodedFrame& out) {
    TPduReader reader(pdu, length, out);
    const std::optional<int32_t> code = reader.Byte();
    if (!code)
        return;
    out.function = *code & 0x7F;
    out.functionName = FunctionName(*out.function);
    if (*code & 0x80) {
        out.exceptionCode = reader.Byte();
        if (out.exceptionCode)
            out.exceptionName = ExceptionName(*out.exceptionCode);
        return;
    }
    switch (*code) {
    case 1:
    case 2:
    case 3:
    case 4:
        if (request) {
            reader.Start();
            out.count = reader.Word();
        } else {
            reader.ByteCountAndData();
        }
        break;
    case 5:
    case 6:
        // A write's echo is its request again.
        reader.Start();
        out.value = reader.Word();
        break;
    case 15:
    case 16:
        reader.Start();
        out.count = reader.Word();
        if (request)
            reader.ByteCountAndData();
        break;
    default:
        reader.Data(length);
        break;
    }
}

// The PDU length a frame's function and counts call for; 0 when the function is not known.
size_t ExpectedPduLength(const uint8_t* pdu, size_t length, bool request) {
    if (length < 1)
        return 1;
    const auto countAt = [&](size_t at) { return at < length ? pdu[at] : 0; };
    if (pdu[0] & 0x80)
        return 2;
    switch (pdu[0]) {
    case 1:
    case 2:
    case 3:
    case 4:
        return request ? 5 : 2 + countAt(1);
    case 5:
    case 6:
        return 5;
    case 15:
    case 16:
        return request ? 6 + countAt(5) : 5;
    default:
        return 0;
    }
}

void DecodeRtu(const std::vector<uint8_t>& bytes, bool request, TDecodedFrame& out) {
    if (bytes.empty()) {
        out.truncated = true;
        return;
    }
    out.slave = bytes[0];
    const size_t rest = bytes.size() - 1;
    const size_t expected = ExpectedPduLength(bytes.data() + 1, rest, request);
    if (bytes.size() < 4 || (expected > 0 && rest < expected + 2)) {
        // Cut short (a reply the wait ended on): no CRC at its end, every byte is shown.
        DecodePdu(bytes.data() + 1, rest, request, out);
        out.truncated = true;
        return;
    }
    out.crc = HasValidCrc16(bytes.data(), bytes.size()) ? "CRC ok" : "bad CRC";
    DecodePdu(bytes.data() + 1, rest - 2, request, out);
}

void DecodeTcp(const std::vector<uint8_t>& bytes, bool request, TDecodedFrame& out) {
    if (bytes.size() >= 2)
        out.transactionId = bytes[0] << 8 | bytes[1];
    if (bytes.size() < 7) {
        out.truncated = true;
        return;
    }
    out.unitId = bytes[6];
    DecodePdu(bytes.data() + 7, bytes.size() - 7, request, out);
}

std::string Number(const std::optional<int32_t>& value) {
    return value ? std::to_string(*value) : std::string();
}

void Add(std::string& text, const std::string& part) {
    if (part.empty())
        return;
    if (!text.empty())
        text += ", ";
    text += part;
}

std::string ValueText(const TDecodedFrame& frame) {
    if (!frame.value)
        return {};
    if (frame.function == 5 && (*frame.value == 0xFF00 || *frame.value == 0))
        return *frame.value != 0 ? "value on" : "value off";
    return "value " + std::to_string(*frame.value);
}

} // namespace

bool IsRequest(const TTrafficFrame& frame) {
    return (frame.direction == TTrafficDirection::Sent) == (frame.side == TTrafficSide::Master);
}

TDecodedFrame DecodeFrame(const TTrafficFrame& frame) {
    TDecodedFrame out;
    if (frame.direction == TTrafficDirection::NoReply) {
        out.waitedMs = frame.waitedMs;
        return out;
    }
    if (frame.framing == TTrafficFraming::Tcp)
        DecodeTcp(frame.bytes, IsRequest(frame), out);
    else
        DecodeRtu(frame.bytes, IsRequest(frame), out);
    return out;
}

std::string TDecodedFrame::Text() const {
    if (waitedMs)
        return "no reply after " + std::to_string(*waitedMs) + " ms";
    std::string text;
    if (transactionId)
        Add(text, "transaction " + std::to_string(*transactionId));
    if (unitId)
        Add(text, "unit " + std::to_string(*unitId));
    if (slave)
        Add(text, "slave " + std::to_string(*slave));
    Add(text, exceptionCode ? functionName + " exception" : functionName);
    Add(text, exceptionName);
    if (reference)
        Add(text, "reference " + std::to_string(*reference) + " (wire " + std::to_string(*wireAddress) + ")");
    if (count)
        Add(text, "count " + std::to_string(*count));
    Add(text, ValueText(*this));
    if (byteCount)
        Add(text, "byte count " + std::to_string(*byteCount));
    if (!data.empty())
        Add(text, "data " + TrafficHex(data));
    if (truncated)
        Add(text, "truncated");
    Add(text, crc);
    return text;
}

std::string TrafficDirectionText(TTrafficDirection direction) {
    switch (direction) {
    case TTrafficDirection::Sent:
        return "sent";
    case TTrafficDirection::Received:
        return "received";
    case TTrafficDirection::NoReply:
        return "no reply";
    }
    return {};
}

std::string TrafficHex(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    char digits[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, text.empty() ? "%02x" : " %02x", byte);
        text += digits;
    }
    return text;
}

std::string TrafficLine(const TTrafficFrame& frame, int64_t originUs, const std::string& target) {
    std::string line = std::to_string(frame.timeUs - originUs) + " us ";
    if (!target.empty())
        line += target + " ";
    std::string direction = TrafficDirectionText(frame.direction);
    direction.resize(8, ' ');
    line += direction + " ";
    if (!frame.bytes.empty())
        line += TrafficHex(frame.bytes) + " ";
    return line + "| " + DecodeFrame(frame).Text();
}

std::vector<std::string> TrafficCsvHeader() {
    return {"time (us)", "target",     "direction",     "bytes",     "transaction",  "unit",
            "slave",     "function",   "function name", "reference", "wire address", "count",
            "value",     "byte count", "data",          "exception", "CRC",          "decoding"};
}

std::vector<std::string> TrafficCsvCells(const TTrafficFrame& frame, int64_t originUs,
                                         const std::string& target) {
    const TDecodedFrame decoded = DecodeFrame(frame);
    return {std::to_string(frame.timeUs - originUs),
            CsvSafeText(target),
            TrafficDirectionText(frame.direction),
            TrafficHex(frame.bytes),
            Number(decoded.transactionId),
            Number(decoded.unitId),
            Number(decoded.slave),
            Number(decoded.function),
            decoded.functionName,
            Number(decoded.reference),
            Number(decoded.wireAddress),
            Number(decoded.count),
            Number(decoded.value),
            Number(decoded.byteCount),
            TrafficHex(decoded.data),
            decoded.exceptionName,
            decoded.crc,
            decoded.Text()};
}
