#include "SimUnit.h"

#include "modbus/Crc16.h"

#include <QFile>
#include <QSaveFile>
#include <cstring>

namespace {

constexpr char StateMagic[] = "DZSIM1\n";
constexpr size_t StateMagicLength = sizeof(StateMagic) - 1;
constexpr size_t StateLength =
    StateMagicLength + TSimUnit::ObjectCount + 2 * static_cast<size_t>(TSimUnit::ObjectCount);

uint16_t Word(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::string Hex(const uint8_t* bytes, size_t length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

void PutWord(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void AppendCrc(std::vector<uint8_t>& frame) {
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

struct FaultName {
    TSimFault fault;
    const char* name;
};
constexpr FaultName FaultNames[] = {
    {TSimFault::NoReply, "no-reply"},
    {TSimFault::BadCrc, "bad-crc"},
    {TSimFault::WrongSlave, "wrong-slave"},
    {TSimFault::Exception, "exception"},
    {TSimFault::Garbage, "garbage"},
    {TSimFault::Truncated, "truncated"},
    {TSimFault::Slow, "slow"},
};

} // namespace

std::optional<TSimFault> SimFaultFromName(const std::string& name) {
    for (const FaultName& entry : FaultNames) {
        if (name == entry.name)
            return entry.fault;
    }
    return std::nullopt;
}

std::string SimFaultName(TSimFault fault) {
    for (const FaultName& entry : FaultNames) {
        if (fault == entry.fault)
            return entry.name;
    }
    return "?";
}

TSimUnit::TSimUnit()
    : FCoils(ObjectCount, 0), FHoldingRegisters(ObjectCount, 0), FInputRegisters(ObjectCount, 0) {}

size_t TSimUnit::RequestLength(const uint8_t* bytes, size_t available) {
    if (available < 2)
        return 0;
    switch (bytes[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        return 8;
    case 15:
    case 16:
        return available < 7 ? 0 : 9 + static_cast<size_t>(bytes[6]);
    default:
        return 0;
    }
}

void TSimUnit::Log(const std::string& line) const {
    if (OnLog)
        OnLog(line);
}

TSimReply TSimUnit::Handle(const uint8_t* frame, size_t length) {
    // Each unit's log holds the requests addressed to it, so requests can be counted per unit.
    const bool mine = length > 0 && (frame[0] == FAddress || frame[0] == 0);
    const bool intact = length >= 4 && HasValidCrc16(frame, length);
    if (FLogRequests && (intact ? mine : FReportsNoise))
        Log("request " + Hex(frame, length));
    if (!intact) {
        if (FReportsNoise)
            Log("dropped a frame of " + std::to_string(length) + " bytes with a bad checksum");
        return {};
    }
    if (!mine)
        return {};
    const uint8_t slave = frame[0];
    ++FRequests;
    const bool broadcast = slave == 0;
    TSimReply reply{Execute(frame, length - 2, broadcast), 0};
    if (broadcast)
        return {};
    if (FSilentCommit && length == 8 && frame[1] == 6 && Word(frame + 2) == CommitWireAddress &&
        Word(frame + 4) == CommitValue) {
        Log("commit left unanswered");
        return {};
    }
    InjectFault(reply);
    if (FLogRequests)
        Log(reply.bytes.empty() ? std::string("no reply")
                                : "reply " + Hex(reply.bytes.data(), reply.bytes.size()));
    return reply;
}

std::vector<uint8_t> TSimUnit::Exception(uint8_t function, uint8_t code) const {
    std::vector<uint8_t> reply{FAddress, static_cast<uint8_t>(function | 0x80), code};
    AppendCrc(reply);
    return reply;
}

// `length` excludes the CRC.
std::vector<uint8_t> TSimUnit::Execute(const uint8_t* frame, size_t length, bool broadcast) {
    const uint8_t function = frame[1];
    constexpr uint8_t illegalFunction = 1, illegalAddress = 2, illegalValue = 3;
    const bool known = function == 1 || function == 3 || function == 4 || function == 5 || function == 6;
    if (!known)
        return Exception(function, illegalFunction);
    if (length != 6)
        return Exception(function, illegalValue);
    const uint32_t address = Word(frame + 2);
    const uint16_t operand = Word(frame + 4);

    std::vector<uint8_t> reply{FAddress, function};
    switch (function) {
    case 1: {
        if (broadcast)
            return {};
        if (operand < 1 || operand > 2000)
            return Exception(function, illegalValue);
        if (address + operand > ObjectCount)
            return Exception(function, illegalAddress);
        const size_t bytes = (operand + 7u) / 8u;
        reply.push_back(static_cast<uint8_t>(bytes));
        reply.resize(reply.size() + bytes, 0);
        for (uint32_t j = 0; j < operand; ++j) {
            if (FCoils[address + j])
                reply[3 + j / 8] |= static_cast<uint8_t>(1u << (j % 8));
        }
        break;
    }
    case 3:
    case 4: {
        if (broadcast)
            return {};
        if (operand < 1 || operand > 125)
            return Exception(function, illegalValue);
        if (address + operand > ObjectCount)
            return Exception(function, illegalAddress);
        const std::vector<uint16_t>& image = function == 3 ? FHoldingRegisters : FInputRegisters;
        reply.push_back(static_cast<uint8_t>(2 * operand));
        for (uint32_t i = 0; i < operand; ++i)
            PutWord(reply, image[address + i]);
        break;
    }
    case 5:
        if (operand != 0xFF00 && operand != 0x0000)
            return Exception(function, illegalValue);
        FCoils[address] = operand != 0 ? 1 : 0;
        FDirty = true;
        reply.assign(frame, frame + 6);
        break;
    case 6:
        // A clamped register keeps at most its limit, and answers as if it took what was sent.
        if (const auto clamp = FClamps.find(address); clamp != FClamps.end() && operand > clamp->second)
            FHoldingRegisters[address] = clamp->second;
        else
            FHoldingRegisters[address] = operand;
        FDirty = true;
        if (address == CommitWireAddress && operand == CommitValue) {
            ++FCommits;
            Log("commit (123 to holding register 9999), number " + std::to_string(FCommits));
        }
        reply.assign(frame, frame + 6);
        break;
    default:
        break;
    }
    AppendCrc(reply);
    return reply;
}

void TSimUnit::AddFault(TSimFault fault, double rate) {
    FFaults.push_back({fault, rate});
}

void TSimUnit::AddFaultAt(TSimFault fault, int64_t request) {
    FFaultsAt.push_back({fault, request});
}

void TSimUnit::InjectFault(TSimReply& reply) {
    if (reply.bytes.empty())
        return;
    for (const FaultAt& entry : FFaultsAt) {
        if (entry.request == FRequests) {
            Log("fault: " + SimFaultName(entry.fault) + " (request " + std::to_string(FRequests) + ")");
            ApplyFault(entry.fault, reply);
            return;
        }
    }
    if (FRequests <= FFaultFreeRequests)
        return;
    std::uniform_real_distribution<double> roll(0.0, 1.0);
    for (const FaultRate& entry : FFaults) {
        if (!(roll(FRandom) < entry.rate))
            continue;
        Log("fault: " + SimFaultName(entry.fault));
        ApplyFault(entry.fault, reply);
        return;
    }
}

void TSimUnit::ApplyFault(TSimFault fault, TSimReply& reply) {
    std::vector<uint8_t>& bytes = reply.bytes;
    switch (fault) {
    case TSimFault::NoReply:
        bytes.clear();
        break;
    case TSimFault::BadCrc:
        bytes.back() ^= 0xFF;
        break;
    case TSimFault::WrongSlave:
        bytes.resize(bytes.size() - 2);
        bytes[0] = static_cast<uint8_t>(FAddress + 1);
        AppendCrc(bytes);
        break;
    case TSimFault::Exception:
        bytes = Exception(bytes[1] & 0x7F, 4);
        break;
    case TSimFault::Garbage: {
        std::uniform_int_distribution<int> byte(0, 255);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(byte(FRandom));
        if (HasValidCrc16(bytes.data(), bytes.size()))
            bytes.back() ^= 0xFF;
        break;
    }
    case TSimFault::Truncated:
        bytes.resize(bytes.size() / 2);
        break;
    case TSimFault::Slow:
        reply.delayMs = FSlowDelayMs;
        break;
    }
}

bool TSimUnit::SaveState(const std::string& path, std::string* error) const {
    std::vector<char> data;
    data.reserve(StateLength);
    data.insert(data.end(), StateMagic, StateMagic + StateMagicLength);
    for (uint8_t coil : FCoils)
        data.push_back(static_cast<char>(coil));
    for (uint16_t value : FHoldingRegisters) {
        data.push_back(static_cast<char>(value >> 8));
        data.push_back(static_cast<char>(value & 0xFF));
    }
    QSaveFile file(QString::fromStdString(path));
    const bool ok =
        file.open(QIODevice::WriteOnly) &&
        file.write(data.data(), static_cast<qint64>(data.size())) == static_cast<qint64>(data.size()) &&
        file.commit();
    if (!ok) {
        if (error != nullptr)
            *error = file.errorString().toStdString();
        return false;
    }
    FDirty = false;
    return true;
}

bool TSimUnit::LoadState(const std::string& path, std::string* error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr)
            *error = file.errorString().toStdString();
        return false;
    }
    const QByteArray data = file.readAll();
    if (static_cast<size_t>(data.size()) != StateLength ||
        std::memcmp(data.constData(), StateMagic, StateMagicLength) != 0) {
        if (error != nullptr)
            *error = "not a simulator state file";
        return false;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData()) + StateMagicLength;
    for (size_t i = 0; i < ObjectCount; ++i)
        FCoils[i] = bytes[i] != 0 ? 1 : 0;
    bytes += ObjectCount;
    for (size_t i = 0; i < ObjectCount; ++i)
        FHoldingRegisters[i] = Word(bytes + 2 * i);
    FDirty = false;
    return true;
}
