#include "modbus/Registerdatastore.h"

#include "modbus/MbusMasterFunctions.h"

#include <bit>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

// Every request is addressed to the unit as slave 1.
constexpr int32_t UnitSlave = 1;
constexpr int32_t ReadCoilBlock = 800;
constexpr int32_t ReadRegisterBlock = 50;

void SleepOneMillisecond() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The shift of a bit field: its lowest set bit, searched up to bit 8.
int MaskShift(int16_t mask) {
    const uint16_t bits = static_cast<uint16_t>(mask);
    int shift = 0;
    while (shift < 8 && (bits & (1u << shift)) == 0)
        ++shift;
    return shift;
}

// Raised inside a step when a block fails; caught by the step itself.
class TBlockFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised inside a step whose run was reset or restarted while a request was on the wire: what
// came back belongs to no run, and the new run's state is left as it is.
class TRunAbandoned : public std::runtime_error {
public:
    TRunAbandoned() : std::runtime_error("run abandoned") {}
};

// The gate of one step, forgotten when the step ends however it ends.
class TGateScope {
public:
    TGateScope(const TExchangeGate*& slot, const TExchangeGate& gate) : FSlot(slot) { FSlot = &gate; }
    ~TGateScope() { FSlot = nullptr; }
    TGateScope(const TGateScope&) = delete;
    TGateScope& operator=(const TGateScope&) = delete;

private:
    const TExchangeGate*& FSlot;
};

std::string Range(int32_t start, int32_t last) {
    return std::to_string(start) + " to " + std::to_string(last);
}

} // namespace

int32_t TModbusHandler::ReadCoils(MbusMasterFunctions* protocol, int32_t slave, int32_t start,
                                  int32_t* values, int32_t count) {
    if (protocol == nullptr)
        return FTALK_ILLEGAL_STATE_ERROR;
    return protocol->ReadCoils(slave, start, values, count);
}

int32_t TModbusHandler::ReadHoldingRegisters(MbusMasterFunctions* protocol, int32_t slave, int32_t start,
                                             int16_t* values, int32_t count) {
    if (protocol == nullptr)
        return FTALK_ILLEGAL_STATE_ERROR;
    return protocol->ReadHoldingRegisters(slave, start, values, count);
}

int32_t TModbusHandler::WriteSingleCoil(MbusMasterFunctions* protocol, int32_t slave, int32_t address,
                                        int32_t value) {
    if (protocol == nullptr)
        return FTALK_ILLEGAL_STATE_ERROR;
    return protocol->WriteSingleCoil(slave, address, value != 0);
}

int32_t TModbusHandler::WriteSingleRegister(MbusMasterFunctions* protocol, int32_t slave, int32_t address,
                                            int16_t value) {
    if (protocol == nullptr)
        return FTALK_ILLEGAL_STATE_ERROR;
    return protocol->WriteSingleRegister(slave, address, value);
}

TRegisterDataStore::TRegisterDataStore(MbusMasterFunctions* protocol, TModbusHandler* handler)
    : FProtocol(protocol), FHandler(handler != nullptr ? handler : &FOwnHandler) {}

TRegisterDataStore::~TRegisterDataStore() = default;

// ---- Registration -------------------------------------------------------------------------

void TRegisterDataStore::Insert(std::vector<int32_t>& slots, std::atomic<int32_t>& maxAddress,
                                int32_t address, bool coil) {
    // Addresses beyond the Modbus reference range are refused like negative ones, so a bad
    // definition cannot grow the slot vectors without bound.
    if (address < 0 || address > MaxAddress) {
        throw std::out_of_range(
            coil ? "InsertCoilIndex - Trying to access a vector position that doesn't exist"
                 : "InserHoldingRegistersSingleIndex - Trying to access a vector position "
                   "that doesn't exist");
    }
    if (address >= maxAddress) {
        if (slots.size() <= static_cast<size_t>(address))
            slots.resize(static_cast<size_t>(address) + 1, -1);
        maxAddress = address;
    }
    int32_t& slot = slots[static_cast<size_t>(address)];
    if (slot != -1)
        return;
    if (coil) {
        slot = FCoilCount++;
        FCoils.push_back(false);
    } else {
        slot = FHoldingRegisterCount++;
        FHoldingRegisters.push_back(0);
    }
    ++FTotalCount;
}

void TRegisterDataStore::InsertCoilIndex(int32_t address) {
    Insert(FCoilSlots, FMaxCoilAddress, address, true);
}

void TRegisterDataStore::InsertHoldingRegisterIndex(int32_t address) {
    Insert(FHoldingRegisterSlots, FMaxHoldingRegisterAddress, address, false);
}

// ---- Image access -------------------------------------------------------------------------

int32_t TRegisterDataStore::CoilSlot(int32_t address) const {
    if (address < 0 || static_cast<size_t>(address) >= FCoilSlots.size() ||
        FCoilSlots[static_cast<size_t>(address)] < 0)
        throw std::out_of_range("coil " + std::to_string(address) + " is not registered");
    return FCoilSlots[static_cast<size_t>(address)];
}

int32_t TRegisterDataStore::RegisterSlot(int32_t address) const {
    if (address < 0 || static_cast<size_t>(address) >= FHoldingRegisterSlots.size() ||
        FHoldingRegisterSlots[static_cast<size_t>(address)] < 0)
        throw std::out_of_range("holding register " + std::to_string(address) + " is not registered");
    return FHoldingRegisterSlots[static_cast<size_t>(address)];
}

bool TRegisterDataStore::HasCoil(int32_t address) const {
    return address >= 0 && static_cast<size_t>(address) < FCoilSlots.size() &&
           FCoilSlots[static_cast<size_t>(address)] >= 0;
}

bool TRegisterDataStore::HasHoldingRegister(int32_t address) const {
    return address >= 0 && static_cast<size_t>(address) < FHoldingRegisterSlots.size() &&
           FHoldingRegisterSlots[static_cast<size_t>(address)] >= 0;
}

bool TRegisterDataStore::GetCoil(int32_t address) const {
    return FCoils[static_cast<size_t>(CoilSlot(address))];
}

void TRegisterDataStore::SetCoil(int32_t address, bool value) {
    FCoils[static_cast<size_t>(CoilSlot(address))] = value;
}

void TRegisterDataStore::GetHoldingRegisters(int32_t start, int16_t* destination, int32_t count) const {
    for (int32_t i = 0; i < count; ++i)
        RegisterSlot(start + i);
    for (int32_t i = 0; i < count; ++i)
        destination[i] = FHoldingRegisters[static_cast<size_t>(RegisterSlot(start + i))];
}

void TRegisterDataStore::SetHoldingRegisters(int32_t start, const int16_t* source, int32_t count) {
    // All addresses are checked first, so a refused call changes nothing.
    for (int32_t i = 0; i < count; ++i)
        RegisterSlot(start + i);
    for (int32_t i = 0; i < count; ++i)
        FHoldingRegisters[static_cast<size_t>(RegisterSlot(start + i))] = source[i];
}

void TRegisterDataStore::SetHoldingRegister(int32_t address, int16_t value) {
    FHoldingRegisters[static_cast<size_t>(RegisterSlot(address))] = value;
}

int16_t TRegisterDataStore::GetHoldingRegisterBits(int32_t address, int16_t mask) const {
    const int16_t field =
        static_cast<int16_t>(FHoldingRegisters[static_cast<size_t>(RegisterSlot(address))] & mask);
    return static_cast<int16_t>(field >> MaskShift(mask));
}

void TRegisterDataStore::SetHoldingRegisterBits(int32_t address, int16_t value, int16_t mask) {
    // The value stays inside its field: a value too large for it cannot change the bits of a
    // neighbouring field sharing the register.
    int16_t& reg = FHoldingRegisters[static_cast<size_t>(RegisterSlot(address))];
    const uint16_t bits = static_cast<uint16_t>(mask);
    const uint16_t shifted =
        static_cast<uint16_t>(static_cast<uint32_t>(static_cast<uint16_t>(value)) << MaskShift(mask));
    reg = static_cast<int16_t>((static_cast<uint16_t>(reg) & ~bits) | (shifted & bits));
}

bool TRegisterDataStore::FieldHolds(int64_t value, int16_t mask) {
    const uint16_t bits = mask == 0 ? 0xFFFFu : static_cast<uint16_t>(mask);
    const int shift = MaskShift(static_cast<int16_t>(bits));
    const int width = std::bit_width(bits) - shift;
    if (value < -(int64_t{1} << (width - 1)) || value > (int64_t{1} << width) - 1)
        return false;
    const uint32_t field = static_cast<uint32_t>(value) & ((1u << width) - 1u);
    return ((field << shift) & ~static_cast<uint32_t>(bits)) == 0;
}

// ---- Runs ---------------------------------------------------------------------------------

void TRegisterDataStore::Reset() {
    FCoils.clear();
    FCoilSlots.clear();
    FHoldingRegisters.clear();
    FHoldingRegisterSlots.clear();
    FCoilCount = 0;
    FHoldingRegisterCount = 0;
    FMaxCoilAddress = 0;
    FMaxHoldingRegisterAddress = 0;
    FTotalCount = 0;
    FFailed = false;
    ++FRunId;
    FState = ssCollecting;
}

void TRegisterDataStore::StartRead() {
    FFailed = false;
    FCoilPosition = 0;
    FHoldingRegisterPosition = 0;
    ++FRunId;
    FState = ssReading;
}

void TRegisterDataStore::StartWrite() {
    FFailed = false;
    FCoilPosition = 0;
    FHoldingRegisterPosition = 0;
    FCommitResult = 0;
    ++FRunId;
    FState = ssWriting;
}

void TRegisterDataStore::SetProtocol(MbusMasterFunctions* protocol) {
    FProtocol = protocol;
}

int32_t TRegisterDataStore::Exchange(const std::function<int32_t()>& request) {
    const uint32_t run = FRunId;
    const int32_t result = FGate != nullptr && *FGate ? (*FGate)(request) : request();
    if (FRunId != run)
        throw TRunAbandoned();
    return result;
}

void TRegisterDataStore::Pause() {
    // The pacing pause is no work on the image: it goes through the gate like a request.
    Exchange([] {
        SleepOneMillisecond();
        return 0;
    });
}

void TRegisterDataStore::ReportProgress(const std::string& text, bool errorFlag, int32_t increment) {
    if (OnProgress) {
        OnProgress(this, text, errorFlag, increment);
        FYield = true;
    }
    Pause();
}

void TRegisterDataStore::TransferCoils(int32_t start, int32_t count, bool write) {
    const int32_t last = start + count - 1;
    if (write) {
        const int32_t value = GetCoil(start) ? 1 : 0;
        if (Exchange([&] { return FHandler->WriteSingleCoil(FProtocol, UnitSlave, start, value); }) != 0) {
            const std::string text =
                "Writing coils" + std::to_string(start) + " to " + std::to_string(last) + "Failed";
            FFailed = true;
            ReportProgress(text, true, 0);
            throw TBlockFailed(text);
        }
        ReportProgress("Writing Coils " + Range(start, last) + "\n", false, count);
        return;
    }
    std::vector<int32_t> values(static_cast<size_t>(count));
    if (Exchange([&] { return FHandler->ReadCoils(FProtocol, UnitSlave, start, values.data(), count); }) !=
        0) {
        const std::string text =
            "Reading coils" + std::to_string(start) + " to " + std::to_string(last) + "Failed";
        FFailed = true;
        ReportProgress(text, true, 0);
        throw TBlockFailed(text);
    }
    for (int32_t i = 0; i < count; ++i)
        FCoils[static_cast<size_t>(CoilSlot(start + i))] = values[static_cast<size_t>(i)] != 0;
    ReportProgress("Reading Coils " + Range(start, last) + "\n", false, count);
}

void TRegisterDataStore::TransferRegisters(int32_t start, int32_t count, bool write) {
    const int32_t last = start + count - 1;
    if (write) {
        int16_t value = 0;
        GetHoldingRegisters(start, &value, 1);
        if (Exchange([&] { return FHandler->WriteSingleRegister(FProtocol, UnitSlave, start, value); }) !=
            0) {
            const std::string text = "Writing Holding Registers " + Range(start, last) + "Failed";
            FFailed = true;
            ReportProgress(text, true, 0);
            throw TBlockFailed(text);
        }
        ReportProgress("Writing Holding Registers " + Range(start, last) + "\n", false, count);
        return;
    }
    std::vector<int16_t> values(static_cast<size_t>(count));
    if (Exchange([&] {
            return FHandler->ReadHoldingRegisters(FProtocol, UnitSlave, start, values.data(), count);
        }) != 0) {
        const std::string text = "Reading Holding Registers " + Range(start, last) + "Failed";
        FFailed = true;
        ReportProgress(text, true, 0);
        throw TBlockFailed(text);
    }
    SetHoldingRegisters(start, values.data(), count);
    ReportProgress("Reading Holding Registers " + Range(start, last) + "\n", false, count);
}

void TRegisterDataStore::RunPass(TPassKind kind, bool write) {
    const bool coils = kind == TPassKind::Coils;
    std::atomic<int32_t>& position = coils ? FCoilPosition : FHoldingRegisterPosition;
    const int32_t maxAddress = coils ? FMaxCoilAddress : FMaxHoldingRegisterAddress;
    const std::vector<int32_t>& slots = coils ? FCoilSlots : FHoldingRegisterSlots;
    const int32_t limit = write ? 1 : (coils ? ReadCoilBlock : ReadRegisterBlock);
    const auto registered = [&slots](int32_t address) {
        return address >= 0 && static_cast<size_t>(address) < slots.size() &&
               slots[static_cast<size_t>(address)] >= 0;
    };

    while (position <= maxAddress && !FYield) {
        // The block begins at the first registered address at or after the position; both
        // passes find it in one search rather than one sleep per unregistered address.
        int32_t start = position;
        while (start <= maxAddress && !registered(start))
            ++start;
        if (start > maxAddress) {
            position = position + 1;
        } else {
            int32_t count = 1;
            while (count < limit && registered(start + count))
                ++count;
            position = start + count;
            if (coils)
                TransferCoils(start, count, write);
            else
                TransferRegisters(start, count, write);
        }
        Pause();
    }
}

void TRegisterDataStore::Fail() {
    FFailed = true;
    FState = ssIdle;
    FCoilPosition = 0;
    FHoldingRegisterPosition = 0;
}

bool TRegisterDataStore::RunFinished() const {
    return FCoilPosition >= FMaxCoilAddress && FHoldingRegisterPosition > FMaxHoldingRegisterAddress;
}

void TRegisterDataStore::Step(TStoreState state, bool write) {
    if (FState != state)
        return;
    FYield = false;
    try {
        try {
            RunPass(TPassKind::Coils, write);
        } catch (const TRunAbandoned&) {
            throw;
        } catch (const std::exception&) {
            Fail();
        }
        // An abandoned run transfers nothing more, with or without a listener.
        if (!FYield && FState == state) {
            try {
                RunPass(TPassKind::Registers, write);
            } catch (const TRunAbandoned&) {
                throw;
            } catch (const std::exception&) {
                Fail();
            }
        }
        if (FState == state && RunFinished()) {
            if (write)
                Commit();
            else
                FState = ssIdle;
        }
    } catch (const TRunAbandoned&) {
        // Another run has taken the store over; it goes on from its own start.
    }
}

void TRegisterDataStore::Commit() {
    // The commit tells the unit to take over what it was sent. Its reply decides no failure, but
    // the run's result is decided only now, after it, and says whether the save was confirmed.
    FCommitResult = Exchange(
        [this] { return FHandler->WriteSingleRegister(FProtocol, UnitSlave, CommitRegister, CommitValue); });
    FState = ssIdle;
    ReportProgress("", false, 0);
}

std::string TRegisterDataStore::CommitNoteText(int32_t error) {
    return "The unit did not answer the save command (commit to register " + std::to_string(CommitRegister) +
           ": " + ErrorText(error) + "). If it was restarted before it finished saving, write again.";
}

std::string TRegisterDataStore::CommitNote() const {
    const int32_t result = FCommitResult;
    return result == 0 ? std::string() : CommitNoteText(result);
}

void TRegisterDataStore::FailRun(const std::string& text) {
    Fail();
    ReportProgress(text, true, 0);
}

void TRegisterDataStore::ReadStep(const TExchangeGate& gate) {
    TGateScope scope(FGate, gate);
    Step(ssReading, false);
}

void TRegisterDataStore::WriteStep(const TExchangeGate& gate) {
    TGateScope scope(FGate, gate);
    Step(ssWriting, true);
}

bool TRegisterDataStore::IsComplete() const {
    return RunFinished() && FState == ssIdle && (FMaxCoilAddress > 0 || FMaxHoldingRegisterAddress > 0);
}
