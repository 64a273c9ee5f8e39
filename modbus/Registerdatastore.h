#pragma once
// The program's image of the unit's coils and holding registers, and the read and write runs
// that move it between the unit and the program one block per step.
#include "modbus/Unitmap.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MbusMasterFunctions;
class TRegisterDataStore;

// Listener for run reports: (sender, text, error flag, number of coils or registers just done).
using TStoreProgressEvent = std::function<void(TRegisterDataStore* sender, const std::string& text,
                                               bool errorFlag, int32_t increment)>;

enum TStoreState : int32_t { ssIdle = 0, ssCollecting = 1, ssReading = 2, ssWriting = 3 };

// Whether a run was started, or why it was refused (nothing changed then).
enum class TRunStart : int32_t {
    Started,
    // A change-only write with nothing to send and no commit owed.
    Unchanged,
    // Another run (a read or a write) is under way.
    Busy
};

// How the last run ended.
enum class TRunResult : int32_t { None, Completed, Failed, Stopped, Unchanged };

// What became of a write run's save command (the commit).
enum class TCommitFate : int32_t { NotSent, Answered, Unanswered };

// What a write run sends. The defaults are the full image, unverified.
struct TWriteOptions {
    // Only what differs from what the unit confirmed (labels-only registers never).
    bool ChangedOnly = false;
    // Read back what was sent once the commit is answered.
    bool Verify = false;
};

// A coil or register the verification found holding another value than the one sent.
struct TVerifyDifference {
    bool Coil = false;
    int32_t Address = 0;
    int16_t Sent = 0;
    int16_t Held = 0;
};

// A coil or register a write run sent, and what the unit had confirmed for it before.
struct TSentValue {
    bool Coil = false;
    int32_t Address = 0;
    bool Known = false; // the unit had confirmed a value on this connection
    int16_t Before = 0;
};

// Carries one request of a step to the line and returns its result. A caller that holds a lock
// over the image while it steps the store lets go of it for the request's time on the wire.
using TExchangeGate = std::function<int32_t(const std::function<int32_t()>& request)>;

// The four master requests the store issues, with the protocol and slave passed explicitly.
class TModbusHandler {
public:
    virtual ~TModbusHandler() = default;
    int32_t ReadCoils(MbusMasterFunctions* protocol, int32_t slave, int32_t start, int32_t* values,
                      int32_t count);
    int32_t ReadHoldingRegisters(MbusMasterFunctions* protocol, int32_t slave, int32_t start, int16_t* values,
                                 int32_t count);
    int32_t WriteSingleCoil(MbusMasterFunctions* protocol, int32_t slave, int32_t address, int32_t value);
    int32_t WriteSingleRegister(MbusMasterFunctions* protocol, int32_t slave, int32_t address, int16_t value);
};

// Holds a store's lock for its lifetime.
using TStoreLock = std::lock_guard<std::recursive_mutex>;

class TRegisterDataStore {
public:
    // The address a write run commits to, and the value it sends there.
    static constexpr int32_t CommitRegister = Unitmap::CommitRegister;
    static constexpr int16_t CommitValue = Unitmap::CommitValue;
    // Largest coil or register reference a definition can name.
    static constexpr int32_t MaxAddress = 65536;

    explicit TRegisterDataStore(MbusMasterFunctions* protocol = nullptr, TModbusHandler* handler = nullptr);
    virtual ~TRegisterDataStore();
    TRegisterDataStore(const TRegisterDataStore&) = delete;
    TRegisterDataStore& operator=(const TRegisterDataStore&) = delete;

    // Registration. Refuses negative addresses and addresses above MaxAddress.
    // `writable` false: only read-only displays use it, so a change-only write never sends it
    // and verification never checks it. One writable user makes it writable.
    void InsertCoilIndex(int32_t address, bool writable = true);
    void InsertHoldingRegisterIndex(int32_t address, bool writable = true);

    bool HasCoil(int32_t address) const;
    bool HasHoldingRegister(int32_t address) const;
    // Image access; an address that is not registered raises std::out_of_range.
    bool GetCoil(int32_t address) const;
    void SetCoil(int32_t address, bool value);
    void GetHoldingRegisters(int32_t start, int16_t* destination, int32_t count) const;
    void SetHoldingRegisters(int32_t start, const int16_t* source, int32_t count);
    void SetHoldingRegister(int32_t address, int16_t value);
    int16_t GetHoldingRegisterBits(int32_t address, int16_t mask) const;
    void SetHoldingRegisterBits(int32_t address, int16_t value, int16_t mask);
    // Whether `value` fits the field of `mask` (0: the whole register) as SetHoldingRegisterBits
    // places it: a field of n bits holds the n-bit numbers read either way, -2^(n-1) to
    // 2^n - 1, and none of their bits may fall outside the mask.
    static bool FieldHolds(int64_t value, int16_t mask);

    // Runs.
    void Reset();
    // Refused (Busy) while a read or a write runs: the run under way keeps its positions.
    TRunStart StartRead();
    // Refused while a run is under way (Busy), and when a change-only write has nothing to send
    // and no commit is owed (Unchanged: the unit already holds the image); a refusal changes
    // nothing.
    TRunStart StartWrite(const TWriteOptions& options = {});
    // What to tell the user about a refused start.
    static std::string RunStartText(TRunStart start);
    // Any thread: the run ends before its next exchange; a write then makes no commit.
    void RequestStop() { FStopRequested = true; }
    void SetProtocol(MbusMasterFunctions* protocol);
    // The unit's slave address on its line (1 to 247): every request of a run goes to it.
    void SetSlave(int32_t slave) { FSlave = slave; }
    int32_t Slave() const { return FSlave; }
    // One step of the run; every request goes through `gate` when one is given.
    void ReadStep(const TExchangeGate& gate = {});
    void WriteStep(const TExchangeGate& gate = {});
    // Ends the current run as failed and reports `text` as its failing block would.
    void FailRun(const std::string& text);

    bool IsComplete() const;
    TRunResult LastResult() const { return FResult; }
    // A write run: how many coils and registers it sends, and how many it has sent.
    int32_t SendCount() const { return FSendTotal; }
    int32_t SentCount() const { return FSentCount; }
    // After a write run: the coils and registers it sent, and what verification found.
    const std::vector<int32_t>& SentCoils() const { return FSentCoils; }
    const std::vector<int32_t>& SentRegisters() const { return FSentRegisters; }
    const std::vector<TSentValue>& SentValues() const { return FSentValues; }
    bool Verified() const { return FVerified; }
    const std::vector<TVerifyDifference>& Differences() const { return FDifferences; }
    // Why a write was not verified although its commit was answered: the line's error text of
    // the read-back (empty: it was, or no verification was asked for, or it was stopped).
    const std::string& VerifyNote() const { return FVerifyNote; }
    // Whether a commit is owed: something was sent since the last answered commit.
    bool CommitOwed() const { return FCommitOwed; }
    // Another run, earlier, sent values the unit was never told to save (the write record
    // says so): the next change-only write commits even when nothing differs.
    void OweCommit() { FCommitOwed = true; }
    // What became of the last write run's commit.
    TCommitFate LastCommit() const { return FCommitFate; }
    // Whether the unit confirmed this value on this connection.
    bool CoilConfirmed(int32_t address) const;
    bool RegisterConfirmed(int32_t address) const;
    // The value the unit confirmed for a registered coil or register; false, leaving `value`
    // as it is, when it confirmed none on this connection (a change-only write sends it).
    bool ConfirmedCoil(int32_t address, bool& value) const;
    bool ConfirmedRegister(int32_t address, int16_t& value) const;
    // Puts the image of a coil, or of the bits of `mask` of a register (0: all of them), back
    // to what the unit confirmed; false, changing nothing, where it confirmed nothing.
    bool RevertCoil(int32_t address);
    bool RevertRegister(int32_t address, int16_t mask);
    static constexpr const char* UnchangedText = "The unit already holds these settings.";
    static constexpr const char* BusyText =
        "The unit is still being read or written; wait for that run to end.";
    static constexpr const char* OwedCommitText = "Nothing differs; sent the save command the last run owed.";
    static std::string WriteStoppedText(int32_t sent, int32_t total);
    static std::string ReadStoppedText(int32_t read, int32_t total);
    bool HasFailed() const { return FFailed; }
    int32_t TotalCount() const { return FTotalCount; }
    // After a write run: empty when the unit answered the commit, else what to tell the user
    // beside the success. The commit's reply is not a condition of success (a unit may answer
    // late while it saves), but an unanswered commit must not pass for a confirmed save.
    std::string CommitNote() const;
    static std::string CommitNoteText(int32_t error);
    TStoreState State() const { return FState; }
    // Held by the worker serving this store while it steps it or services settings, and by
    // the user-interface thread for every change of the image; never over the wire (the
    // step's exchange gate lets go of it). Recursive: a locked refresh may select a group.
    std::recursive_mutex& Lock() const { return FLock; }

    TStoreProgressEvent OnProgress;

private:
    enum class TPassKind { Coils, Registers };
    void Insert(std::vector<int32_t>& slots, std::atomic<int32_t>& maxAddress, int32_t address, bool coil,
                bool writable);
    int32_t CoilSlot(int32_t address) const;
    int32_t RegisterSlot(int32_t address) const;
    void ReportProgress(const std::string& text, bool errorFlag, int32_t increment);
    void RunPass(TPassKind kind, bool write);
    void RunPassOrFail(TPassKind kind, bool write);
    void TransferCoils(int32_t start, int32_t count, bool write);
    void TransferRegisters(int32_t start, int32_t count, bool write);
    void Fail();
    bool RunFinished() const;
    bool RunUnderWay() const;
    void Step(TStoreState state, bool write);
    void Commit();
    void WriteRun();
    void SendNext();
    void VerifyNext();
    void PlanVerification();
    void EndRun(TRunResult result, const std::string& text);
    bool TakeStop();
    // Runs one request through the step's gate; raises when the run was reset or restarted
    // while the request was on the wire.
    int32_t Exchange(const std::function<int32_t()>& request);

    mutable std::recursive_mutex FLock;
    MbusMasterFunctions* FProtocol;
    // Set on the user-interface thread when a unit is connected, read by the worker.
    std::atomic<int32_t> FSlave{1};
    TModbusHandler* FHandler;
    TModbusHandler FOwnHandler;
    // Set by registration on the worker while the user-interface thread asks IsComplete.
    std::atomic<int32_t> FMaxCoilAddress{0};
    std::atomic<int32_t> FMaxHoldingRegisterAddress{0};
    int32_t FCoilCount = 0;
    int32_t FHoldingRegisterCount = 0;
    std::vector<bool> FCoils;
    std::vector<int32_t> FCoilSlots;
    std::vector<int16_t> FHoldingRegisters;
    std::vector<int32_t> FHoldingRegisterSlots;
    std::atomic<int32_t> FCoilPosition{0};
    std::atomic<int32_t> FHoldingRegisterPosition{0};
    bool FYield = false;
    std::atomic<int32_t> FTotalCount{0};
    std::atomic<TStoreState> FState{ssIdle};
    std::atomic<bool> FFailed{false};
    // Counts run starts and resets, so a step notices a run replaced during its exchange.
    std::atomic<uint32_t> FRunId{0};
    const TExchangeGate* FGate = nullptr;
    // Result of the last write run's commit request (0: answered).
    std::atomic<int32_t> FCommitResult{0};
    std::atomic<TCommitFate> FCommitFate{TCommitFate::NotSent};

    // Per slot: used by a writable setting; what the unit confirmed (unknown: nothing).
    std::vector<bool> FCoilWritable;
    std::vector<bool> FRegisterWritable;
    std::vector<bool> FCoilKnown;
    std::vector<bool> FCoilConfirmed;
    std::vector<bool> FRegisterKnown;
    std::vector<int16_t> FRegisterConfirmed;
    bool FCommitOwed = false;
    std::atomic<bool> FStopRequested{false};
    std::atomic<TRunResult> FResult{TRunResult::None};
    // The write run: what it is to send (addresses), where it is, what it sent.
    enum class TWritePhase { Send, Commit, Verify };
    TWritePhase FPhase = TWritePhase::Send;
    TWriteOptions FWriteOptions;
    std::vector<int32_t> FToSendCoils;
    std::vector<int32_t> FToSendRegisters;
    size_t FSendIndex = 0;
    std::atomic<int32_t> FSendTotal{0};
    std::atomic<int32_t> FSentCount{0};
    std::vector<int32_t> FSentCoils;
    std::vector<int32_t> FSentRegisters;
    std::vector<TSentValue> FSentValues;
    // The verification's read requests: (coil?, start, count).
    struct TVerifyRead {
        bool coil;
        int32_t start;
        int32_t count;
    };
    std::vector<TVerifyRead> FVerifyReads;
    size_t FVerifyIndex = 0;
    bool FVerified = false;
    std::string FVerifyNote;
    std::vector<TVerifyDifference> FDifferences;
};
