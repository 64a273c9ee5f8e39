#include "modbus/Registerdatastore.h"

#include "modbus/MbusMasterFunctions.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace {

constexpr int32_t ReadCoilBlock = 800;
constexpr int32_t ReadRegisterBlock = 50;

// The cost of reading `count` coils or registers in one request at 9600 baud, in microseconds:
// a fixed part (request, turnaround, reply frame) and the reply's data bytes. One register
// costs about 22 ms, fifty about 135 ms.
int64_t ReadCost(bool coil, int32_t count) {
    constexpr int64_t Fixed = 19700;
    return Fixed + (coil ? 1042 * ((count + 7) / 8) : 2306 * static_cast<int64_t>(count));
}

// "2,629": counts as the user reads them.
std::string Grouped(int32_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
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

// Raised inside a read step asked to stop before its next request.
class TRunStopped : public std::runtime_error {
public:
    TRunStopped() : std::runtime_error("run stopped") {}
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
                                int32_t address, bool coil, bool writable) {
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
    if (slot != -1) {
        if (writable)
            (coil ? FCoilWritable : FRegisterWritable)[static_cast<size_t>(slot)] = true;
        return;
    }
    if (coil) {
        slot = FCoilCount++;
        FCoils.push_back(false);
        FCoilWritable.push_back(writable);
        FCoilKnown.push_back(false);
        FCoilConfirmed.push_back(false);
    } else {
        slot = FHoldingRegisterCount++;
        FHoldingRegisters.push_back(0);
        FRegisterWritable.push_back(writable);
        FRegisterKnown.push_back(false);
        FRegisterConfirmed.push_back(0);
    }
    ++FTotalCount;
}

void TRegisterDataStore::InsertCoilIndex(int32_t address, bool writable) {
    Insert(FCoilSlots, FMaxCoilAddress, address, true, writable);
}

void TRegisterDataStore::InsertHoldingRegisterIndex(int32_t address, bool writable) {
    Insert(FHoldingRegisterSlots, FMaxHoldingRegisterAddress, address, false, writable);
}

bool TRegisterDataStore::CoilConfirmed(int32_t address) const {
    const auto slot = static_cast<size_t>(CoilSlot(address));
    return FCoilKnown[slot] && FCoilConfirmed[slot] == FCoils[slot];
}

bool TRegisterDataStore::RegisterConfirmed(int32_t address) const {
    const auto slot = static_cast<size_t>(RegisterSlot(address));
    return FRegisterKnown[slot] && FRegisterConfirmed[slot] == FHoldingRegisters[slot];
}

bool TRegisterDataStore::ConfirmedCoil(int32_t address, bool& value) const {
    const auto slot = static_cast<size_t>(CoilSlot(address));
    if (!FCoilKnown[slot])
        return false;
    value = FCoilConfirmed[slot];
    return true;
}

bool TRegisterDataStore::ConfirmedRegister(int32_t address, int16_t& value) const {
    const auto slot = static_cast<size_t>(RegisterSlot(address));
    if (!FRegisterKnown[slot])
        return false;
    value = FRegisterConfirmed[slot];
    return true;
}

bool TRegisterDataStore::RevertCoil(int32_t address) {
    const auto slot = static_cast<size_t>(CoilSlot(address));
    if (!FCoilKnown[slot])
        return false;
    FCoils[slot] = FCoilConfirmed[slot];
    return true;
}

bool TRegisterDataStore::RevertRegister(int32_t address, int16_t mask) {
    const auto slot = static_cast<size_t>(RegisterSlot(address));
    if (!FRegisterKnown[slot])
        return false;
    // Only the field: another setting sharing the register keeps its own change.
    const uint16_t bits = mask == 0 ? 0xFFFFu : static_cast<uint16_t>(mask);
    FHoldingRegisters[slot] = static_cast<int16_t>((static_cast<uint16_t>(FHoldingRegisters[slot]) & ~bits) |
                                                   (static_cast<uint16_t>(FRegisterConfirmed[slot]) & bits));
    return true;
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
    // A new connection: nothing the unit confirmed before is known to hold.
    FCoilWritable.clear();
    FRegisterWritable.clear();
    FCoilKnown.clear();
    FCoilConfirmed.clear();
    FRegisterKnown.clear();
    FRegisterConfirmed.clear();
    FCommitOwed = false;
    FResult = TRunResult::None;
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

std::string TRegisterDataStore::RunStartText(TRunStart start) {
    switch (start) {
    case TRunStart::Unchanged:
        return UnchangedText;
    case TRunStart::Busy:
        return BusyText;
    case TRunStart::Started:
        break;
    }
    return {};
}

bool TRegisterDataStore::RunUnderWay() const {
    const TStoreState state = FState;
    return state == ssReading || state == ssWriting;
}

TRunStart TRegisterDataStore::StartRead() {
    if (RunUnderWay())
        return TRunStart::Busy;
    FFailed = false;
    FSentCount = 0;
    FResult = TRunResult::None;
    FCoilPosition = 0;
    FHoldingRegisterPosition = 0;
    ++FRunId;
    FState = ssReading;
    return TRunStart::Started;
}

TRunStart TRegisterDataStore::StartWrite(const TWriteOptions& options) {
    // A write started under a read or another write would send a half-read image.
    if (RunUnderWay())
        return TRunStart::Busy;
    FToSendCoils.clear();
    FToSendRegisters.clear();
    // A register with two settings in it is one register: each address is listed once.
    for (size_t address = 0; address < FCoilSlots.size(); ++address) {
        const int32_t slot = FCoilSlots[address];
        if (slot < 0)
            continue;
        const auto i = static_cast<size_t>(slot);
        if (!options.ChangedOnly || (FCoilWritable[i] && (!FCoilKnown[i] || FCoilConfirmed[i] != FCoils[i])))
            FToSendCoils.push_back(static_cast<int32_t>(address));
    }
    for (size_t address = 0; address < FHoldingRegisterSlots.size(); ++address) {
        const int32_t slot = FHoldingRegisterSlots[address];
        if (slot < 0)
            continue;
        const auto i = static_cast<size_t>(slot);
        if (!options.ChangedOnly ||
            (FRegisterWritable[i] && (!FRegisterKnown[i] || FRegisterConfirmed[i] != FHoldingRegisters[i])))
            FToSendRegisters.push_back(static_cast<int32_t>(address));
    }
    FSendTotal = static_cast<int32_t>(FToSendCoils.size() + FToSendRegisters.size());
    if (options.ChangedOnly && FSendTotal == 0 && !FCommitOwed) {
        FResult = TRunResult::Unchanged;
        return TRunStart::Unchanged;
    }
    FWriteOptions = options;
    FFailed = false;
    FCommitResult = 0;
    FCommitFate = TCommitFate::NotSent;
    FPhase = TWritePhase::Send;
    FSendIndex = 0;
    FSentCount = 0;
    FSentCoils.clear();
    FSentRegisters.clear();
    FSentValues.clear();
    FVerifyReads.clear();
    FVerifyIndex = 0;
    FVerified = false;
    FVerifyNote.clear();
    FDifferences.clear();
    FResult = TRunResult::None;
    ++FRunId;
    FState = ssWriting;
    return TRunStart::Started;
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

void TRegisterDataStore::ReportProgress(const std::string& text, bool errorFlag, int32_t increment) {
    if (OnProgress) {
        OnProgress(this, text, errorFlag, increment);
        FYield = true;
    }
}

void TRegisterDataStore::TransferCoils(int32_t start, int32_t count, bool write) {
    const int32_t last = start + count - 1;
    if (write) {
        const int32_t value = GetCoil(start) ? 1 : 0;
        if (Exchange([&] { return FHandler->WriteSingleCoil(FProtocol, FSlave.load(), start, value); }) !=
            0) {
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
    if (Exchange([&] {
            return FHandler->ReadCoils(FProtocol, FSlave.load(), start, values.data(), count);
        }) != 0) {
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
        if (Exchange([&] { return FHandler->WriteSingleRegister(FProtocol, FSlave.load(), start, value); }) !=
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
            return FHandler->ReadHoldingRegisters(FProtocol, FSlave.load(), start, values.data(), count);
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
            if (FStopRequested)
                throw TRunStopped();
            position = start + count;
            if (coils)
                TransferCoils(start, count, write);
            else
                TransferRegisters(start, count, write);
            FSentCount += count;
        }
    }
}

void TRegisterDataStore::Fail() {
    FFailed = true;
    FResult = TRunResult::Failed;
    FState = ssIdle;
    FCoilPosition = 0;
    FHoldingRegisterPosition = 0;
}

bool TRegisterDataStore::RunFinished() const {
    return FCoilPosition >= FMaxCoilAddress && FHoldingRegisterPosition > FMaxHoldingRegisterAddress;
}

void TRegisterDataStore::RunPassOrFail(TPassKind kind, bool write) {
    // An abandoned or stopped run is the step's to end; anything else fails the run.
    try {
        RunPass(kind, write);
    } catch (const TRunAbandoned&) {
        throw;
    } catch (const TRunStopped&) {
        throw;
    } catch (const std::exception&) {
        Fail();
    }
}

void TRegisterDataStore::Step(TStoreState state, bool write) {
    if (FState != state)
        return;
    FYield = false;
    try {
        RunPassOrFail(TPassKind::Coils, write);
        // An abandoned run transfers nothing more, with or without a listener.
        if (!FYield && FState == state)
            RunPassOrFail(TPassKind::Registers, write);
        if (FState == state && RunFinished()) {
            // What a completed read read is what the unit holds.
            FCoilKnown.assign(FCoils.size(), true);
            FCoilConfirmed = FCoils;
            FRegisterKnown.assign(FHoldingRegisters.size(), true);
            FRegisterConfirmed = FHoldingRegisters;
            // Its last block's report was its last.
            FStopRequested = false;
            FState = ssIdle;
            FResult = TRunResult::Completed;
        }
    } catch (const TRunStopped&) {
        const int32_t read = FSentCount;
        FCoilPosition = 0;
        FHoldingRegisterPosition = 0;
        EndRun(TRunResult::Stopped, ReadStoppedText(read, FTotalCount));
    } catch (const TRunAbandoned&) {
        // Another run has taken the store over; it goes on from its own start.
    }
}

void TRegisterDataStore::EndRun(TRunResult result, const std::string& text) {
    // A stop asked for once the run was over stops no later run.
    FStopRequested = false;
    FState = ssIdle;
    FResult = result;
    ReportProgress(text, false, 0);
}

bool TRegisterDataStore::TakeStop() {
    return FStopRequested.exchange(false);
}

void TRegisterDataStore::WriteRun() {
    if (FState != ssWriting)
        return;
    FYield = false;
    try {
        while (FState == ssWriting && !FYield) {
            switch (FPhase) {
            case TWritePhase::Send:
                if (TakeStop()) {
                    EndRun(TRunResult::Stopped, WriteStoppedText(FSentCount, FSendTotal));
                } else if (FSendIndex < FToSendCoils.size() + FToSendRegisters.size()) {
                    SendNext();
                } else {
                    FPhase = TWritePhase::Commit;
                }
                break;
            case TWritePhase::Commit:
                Commit();
                break;
            case TWritePhase::Verify:
                // The unit has saved what it was sent; a stop only leaves it unchecked.
                if (FVerifyIndex < FVerifyReads.size() && !TakeStop()) {
                    VerifyNext();
                } else {
                    FVerified = FVerifyIndex == FVerifyReads.size();
                    EndRun(TRunResult::Completed, "");
                }
                break;
            }
        }
    } catch (const TRunAbandoned&) {
        // Another run has taken the store over.
    } catch (const std::exception&) {
        Fail();
    }
}

void TRegisterDataStore::SendNext() {
    const bool coil = FSendIndex < FToSendCoils.size();
    const int32_t address =
        coil ? FToSendCoils[FSendIndex] : FToSendRegisters[FSendIndex - FToSendCoils.size()];
    // From here the unit may hold the value or not: it is confirmed again only by a commit the
    // unit answers, and a commit is owed whatever the request's outcome.
    FCommitOwed = true;
    TSentValue sent{coil, address, false, 0};
    if (coil) {
        bool before = false;
        sent.Known = ConfirmedCoil(address, before);
        sent.Before = before ? 1 : 0;
    } else {
        sent.Known = ConfirmedRegister(address, sent.Before);
    }
    FSentValues.push_back(sent);
    if (coil) {
        FCoilKnown[static_cast<size_t>(CoilSlot(address))] = false;
        TransferCoils(address, 1, true);
        FSentCoils.push_back(address);
    } else {
        FRegisterKnown[static_cast<size_t>(RegisterSlot(address))] = false;
        TransferRegisters(address, 1, true);
        FSentRegisters.push_back(address);
    }
    ++FSendIndex;
    FSentCount = FSentCount + 1;
}

void TRegisterDataStore::Commit() {
    // The commit tells the unit to take over what it was sent. Its reply decides no failure, but
    // the run's result is decided only now, after it, and says whether the save was confirmed.
    FCommitResult = Exchange([this] {
        return FHandler->WriteSingleRegister(FProtocol, FSlave.load(), CommitRegister, CommitValue);
    });
    FCommitFate = FCommitResult == 0 ? TCommitFate::Answered : TCommitFate::Unanswered;
    if (FCommitResult != 0) {
        EndRun(TRunResult::Completed, "");
        return;
    }
    FCommitOwed = false;
    for (int32_t address : FSentCoils) {
        const auto slot = static_cast<size_t>(CoilSlot(address));
        FCoilKnown[slot] = true;
        FCoilConfirmed[slot] = FCoils[slot];
    }
    for (int32_t address : FSentRegisters) {
        const auto slot = static_cast<size_t>(RegisterSlot(address));
        FRegisterKnown[slot] = true;
        FRegisterConfirmed[slot] = FHoldingRegisters[slot];
    }
    // A full write leaves the store as complete as a read does.
    FCoilPosition = FMaxCoilAddress.load();
    FHoldingRegisterPosition = FMaxHoldingRegisterAddress + 1;
    if (!FWriteOptions.Verify) {
        EndRun(TRunResult::Completed, "");
        return;
    }
    PlanVerification();
    FPhase = TWritePhase::Verify;
    ReportProgress("Verifying settings\n", false, 0);
}

void TRegisterDataStore::PlanVerification() {
    // Neighbours share a request where reading the span between them costs less than a request
    // of their own; the span holds only registered addresses, within the read run's limits.
    const auto plan = [this](const std::vector<int32_t>& sent, bool coil) {
        const std::vector<int32_t>& slots = coil ? FCoilSlots : FHoldingRegisterSlots;
        const std::vector<bool>& writable = coil ? FCoilWritable : FRegisterWritable;
        const int32_t limit = coil ? ReadCoilBlock : ReadRegisterBlock;
        std::vector<int32_t> checked;
        for (int32_t address : sent) {
            if (writable[static_cast<size_t>(slots[static_cast<size_t>(address)])])
                checked.push_back(address);
        }
        size_t i = 0;
        while (i < checked.size()) {
            const int32_t start = checked[i];
            int32_t last = start;
            size_t j = i + 1;
            for (; j < checked.size(); ++j) {
                const int32_t next = checked[j];
                if (next - start + 1 > limit)
                    break;
                bool registered = true;
                for (int32_t a = last + 1; a < next && registered; ++a)
                    registered = slots[static_cast<size_t>(a)] >= 0;
                if (!registered ||
                    ReadCost(coil, next - start + 1) > ReadCost(coil, last - start + 1) + ReadCost(coil, 1))
                    break;
                last = next;
            }
            FVerifyReads.push_back({coil, start, last - start + 1});
            i = j;
        }
    };
    plan(FSentCoils, true);
    plan(FSentRegisters, false);
}

void TRegisterDataStore::VerifyNext() {
    const TVerifyRead read = FVerifyReads[FVerifyIndex];
    const int32_t last = read.start + read.count - 1;
    const auto sent = [&read, this](int32_t address) {
        const std::vector<int32_t>& list = read.coil ? FSentCoils : FSentRegisters;
        return std::binary_search(list.begin(), list.end(), address);
    };
    const std::string what = read.coil ? "Coils " : "Holding Registers ";
    std::vector<int32_t> coils(static_cast<size_t>(read.count));
    std::vector<int16_t> registers(static_cast<size_t>(read.count));
    const int32_t result = Exchange([&] {
        return read.coil ? FHandler->ReadCoils(FProtocol, FSlave.load(), read.start, coils.data(), read.count)
                         : FHandler->ReadHoldingRegisters(FProtocol, FSlave.load(), read.start,
                                                          registers.data(), read.count);
    });
    if (result != 0) {
        // The unit saved what it was sent; only the check is missing. The run ends unverified.
        FVerifyIndex = FVerifyReads.size() + 1;
        FVerifyNote = ErrorText(result);
        EndRun(TRunResult::Completed, "");
        return;
    }
    for (int32_t i = 0; i < read.count; ++i) {
        const int32_t address = read.start + i;
        if (!sent(address))
            continue;
        if (read.coil) {
            const auto slot = static_cast<size_t>(CoilSlot(address));
            const bool held = coils[static_cast<size_t>(i)] != 0;
            if (held != FCoils[slot]) {
                FDifferences.push_back({true, address, static_cast<int16_t>(FCoils[slot] ? 1 : 0),
                                        static_cast<int16_t>(held ? 1 : 0)});
                // The image shows the truth from now on.
                FCoils[slot] = held;
                FCoilConfirmed[slot] = held;
            }
        } else {
            const auto slot = static_cast<size_t>(RegisterSlot(address));
            const int16_t held = registers[static_cast<size_t>(i)];
            if (held != FHoldingRegisters[slot]) {
                FDifferences.push_back({false, address, FHoldingRegisters[slot], held});
                FHoldingRegisters[slot] = held;
                FRegisterConfirmed[slot] = held;
            }
        }
    }
    ++FVerifyIndex;
    ReportProgress("Verifying " + what + Range(read.start, last) + "\n", false, 0);
}

std::string TRegisterDataStore::WriteStoppedText(int32_t sent, int32_t total) {
    return "Write stopped: " + Grouped(sent) + " of " + Grouped(total) +
           " sent; the unit has not saved them (no commit). Write again to finish.";
}

std::string TRegisterDataStore::ReadStoppedText(int32_t read, int32_t total) {
    return "Read stopped: " + Grouped(read) + " of " + Grouped(total) + " read.";
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
    WriteRun();
}

bool TRegisterDataStore::IsComplete() const {
    return RunFinished() && FState == ssIdle && (FMaxCoilAddress > 0 || FMaxHoldingRegisterAddress > 0);
}
