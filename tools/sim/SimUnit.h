#pragma once
// The simulated unit's logic, apart from any line: the coil, holding-register and input-register
// image of a Modbus RTU slave, request frames in and reply frames out, and the injected faults.
#include "modbus/Unitmap.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

// Faults the unit can inject into its replies.
enum class TSimFault {
    NoReply,    // the request is carried out but its reply is lost
    BadCrc,     // the reply's checksum is wrong
    WrongSlave, // the reply comes from another slave address
    Exception,  // a slave-device-failure exception reply
    Garbage,    // noise in place of the reply
    Truncated,  // the reply stops half-way
    Slow,       // the reply comes after the master has given up
};

// "no-reply", "bad-crc", "wrong-slave", "exception", "garbage", "truncated", "slow".
std::optional<TSimFault> SimFaultFromName(const std::string& name);
std::string SimFaultName(TSimFault fault);

// The reply to one request: its bytes (none: stay silent) and how long to wait before sending.
struct TSimReply {
    std::vector<uint8_t> bytes;
    int32_t delayMs = 0;
};

class TSimUnit {
public:
    static constexpr int32_t ObjectCount = 65536;
    // The slave address a unit answers unless told otherwise.
    static constexpr uint8_t DefaultAddress = Unitmap::DefaultSlaveAddress;
    // Input register reference 4 (wire address 3) holds the device id.
    static constexpr uint16_t DeviceIdWireAddress = Unitmap::DeviceIdWireAddress;
    // A write of 123 to holding register reference 9999 ends a write run.
    static constexpr uint16_t CommitWireAddress = Unitmap::CommitWireAddress;
    static constexpr uint16_t CommitValue = Unitmap::CommitValue;

    TSimUnit();

    // Length of the request frame that starts with these bytes, or 0 when it cannot be told
    // from them (an unknown function code: the frame then ends with a quiet line).
    static size_t RequestLength(const uint8_t* bytes, size_t available);

    // One request frame, CRC included. Broadcasts and frames for other slaves get no reply.
    TSimReply Handle(const uint8_t* frame, size_t length);

    // The slave address this unit answers (1 to 247); frames for others get no reply.
    void SetAddress(uint8_t address) { FAddress = address; }
    uint8_t Address() const { return FAddress; }
    // On a line shared with other units, frames this unit cannot read as its own are left to the
    // unit that reports the line's noise, so each is logged once.
    void SetReportsNoise(bool on) { FReportsNoise = on; }
    void SetDeviceId(uint16_t id) { FInputRegisters[DeviceIdWireAddress] = id; }
    uint16_t DeviceId() const { return FInputRegisters[DeviceIdWireAddress]; }
    // Wire addresses (reference number - 1).
    bool Coil(int32_t address) const { return FCoils.at(static_cast<size_t>(address)) != 0; }
    void SetCoil(int32_t address, bool value) { FCoils.at(static_cast<size_t>(address)) = value ? 1 : 0; }
    uint16_t HoldingRegister(int32_t address) const {
        return FHoldingRegisters.at(static_cast<size_t>(address));
    }
    void SetHoldingRegister(int32_t address, uint16_t value) {
        FHoldingRegisters.at(static_cast<size_t>(address)) = value;
    }

    // Faults are tried in the order added; the first whose roll hits shapes the reply.
    void AddFault(TSimFault fault, double rate);
    // The reply to request number `request` (counted from 1, as Requests() counts) gets `fault`,
    // whatever the rates and the fault-free start say: a test can spoil exactly one exchange.
    void AddFaultAt(TSimFault fault, int64_t request);
    void SetSeed(uint32_t seed) { FRandom.seed(seed); }
    // The first `count` requests are answered faithfully: a master can find the unit before the
    // line turns bad.
    void SetFaultFreeRequests(int64_t count) { FFaultFreeRequests = count; }
    void SetSlowDelayMs(int32_t ms) { FSlowDelayMs = ms; }
    // The commit is carried out but never answered, as by a unit busy saving or restarting.
    void SetSilentCommit(bool on) { FSilentCommit = on; }
    // Holding register `reference` (as the definition file counts, from 1) stores no more than
    // `max` (unsigned), as a unit that limits a value without saying so.
    void SetClamp(int32_t reference, uint16_t max) { FClamps[reference - 1] = max; }
    // Logs every request and reply frame as hex.
    void SetLogRequests(bool on) { FLogRequests = on; }

    // The image (coils and holding registers) as a file; written to a temporary file and renamed,
    // so a reader, or a simulator killed half-way, never sees a torn file.
    bool SaveState(const std::string& path, std::string* error = nullptr) const;
    bool LoadState(const std::string& path, std::string* error = nullptr);
    // Set by every write request, cleared by SaveState.
    bool Dirty() const { return FDirty; }

    int64_t Requests() const { return FRequests; }
    int64_t Commits() const { return FCommits; }
    // Receives one line per notable event (a commit, a dropped frame, an injected fault).
    std::function<void(const std::string&)> OnLog;

private:
    std::vector<uint8_t> Execute(const uint8_t* frame, size_t length, bool broadcast);
    std::vector<uint8_t> Exception(uint8_t function, uint8_t code) const;
    void InjectFault(TSimReply& reply);
    void ApplyFault(TSimFault fault, TSimReply& reply);
    void Log(const std::string& line) const;

    std::vector<uint8_t> FCoils;
    std::vector<uint16_t> FHoldingRegisters;
    std::vector<uint16_t> FInputRegisters;
    struct FaultRate {
        TSimFault fault;
        double rate;
    };
    std::vector<FaultRate> FFaults;
    struct FaultAt {
        TSimFault fault;
        int64_t request;
    };
    std::vector<FaultAt> FFaultsAt;
    std::mt19937 FRandom{std::random_device{}()};
    int32_t FSlowDelayMs = 1500;
    int64_t FFaultFreeRequests = 0;
    bool FLogRequests = false;
    uint8_t FAddress = DefaultAddress;
    bool FReportsNoise = true;
    bool FSilentCommit = false;
    std::map<int32_t, uint16_t> FClamps;
    mutable bool FDirty = false;
    int64_t FRequests = 0;
    int64_t FCommits = 0;
};
