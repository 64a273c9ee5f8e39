#include "modbus/Registerdatastore.h"
#include "support/FakeUnit.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Report {
    std::string text;
    bool error;
    int32_t increment;
};

// A store on a fake unit with a listener that records every report.
struct StoreFixture {
    TFakeUnitMaster unit;
    TRegisterDataStore store{&unit};
    std::vector<Report> reports;

    StoreFixture() {
        store.OnProgress = [this](TRegisterDataStore* sender, const std::string& text, bool error,
                                  int32_t inc) {
            EXPECT_EQ(sender, &store);
            reports.push_back({text, error, inc});
        };
        store.Reset();
    }

    // Steps until the run ends; returns the number of steps.
    int Run(bool write) {
        if (write)
            store.StartWrite();
        else
            store.StartRead();
        int steps = 0;
        while (store.State() == (write ? ssWriting : ssReading) && steps < 10000) {
            write ? store.WriteStep() : store.ReadStep();
            ++steps;
        }
        return steps;
    }

    int32_t Sum() const {
        int32_t sum = 0;
        for (const auto& r : reports)
            sum += r.increment;
        return sum;
    }
};

} // namespace

TEST(StoreRegistration, SlotsCountsAndRepeats) {
    TRegisterDataStore store;
    store.Reset();
    EXPECT_EQ(store.State(), ssCollecting);
    store.InsertCoilIndex(5);
    store.InsertCoilIndex(3);
    store.InsertCoilIndex(5);
    store.InsertHoldingRegisterIndex(7);
    EXPECT_EQ(store.TotalCount(), 3);
    EXPECT_NO_THROW(store.GetCoil(3));
    EXPECT_NO_THROW(store.GetCoil(5));
    for (int32_t unregistered : {0, 1, 2, 4, 6, -1})
        EXPECT_THROW(store.GetCoil(unregistered), std::out_of_range) << unregistered;
    EXPECT_THROW(store.GetHoldingRegisterBits(6, 0), std::out_of_range);
}

TEST(StoreRegistration, RefusesAddressesOutsideTheReferenceRange) {
    TRegisterDataStore store;
    try {
        store.InsertCoilIndex(-1);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "InsertCoilIndex - Trying to access a vector position that doesn't exist");
    }
    try {
        store.InsertHoldingRegisterIndex(65537);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "InserHoldingRegistersSingleIndex - Trying to access a vector position that "
                               "doesn't exist");
    }
    EXPECT_NO_THROW(store.InsertHoldingRegisterIndex(65536));
    EXPECT_EQ(store.TotalCount(), 1);
}

TEST(StoreImage, RegistersAndBitFields) {
    TRegisterDataStore store;
    store.Reset();
    for (int32_t a : {10, 11, 12})
        store.InsertHoldingRegisterIndex(a);
    const int16_t values[] = {0x1234, -32768, 7};
    store.SetHoldingRegisters(10, values, 3);
    int16_t back[3];
    store.GetHoldingRegisters(10, back, 3);
    EXPECT_EQ(back[0], 0x1234);
    EXPECT_EQ(back[1], -32768);
    EXPECT_EQ(store.GetHoldingRegisterBits(10, 0x00F0), 3);
    EXPECT_EQ(store.GetHoldingRegisterBits(11, static_cast<int16_t>(0xFF00)), -128);

    store.SetHoldingRegister(12, 0);
    store.SetHoldingRegisterBits(12, 5, 0x0070);
    store.GetHoldingRegisters(12, back, 1);
    EXPECT_EQ(back[0], 0x0050);
    // A value too wide for its field stays inside the field.
    store.SetHoldingRegister(12, 0x0F0F);
    store.SetHoldingRegisterBits(12, 0x1F, 0x00F0);
    store.GetHoldingRegisters(12, back, 1);
    EXPECT_EQ(back[0], 0x0FFF);

    // A refused range changes nothing.
    const int16_t many[4] = {1, 2, 3, 4};
    EXPECT_THROW(store.SetHoldingRegisters(10, many, 4), std::out_of_range);
    store.GetHoldingRegisters(10, back, 1);
    EXPECT_EQ(back[0], 0x1234);
}

TEST(StoreRead, CoilsSplitIntoBlocksOf800) {
    StoreFixture f;
    for (int32_t a = 1; a <= 1000; ++a)
        f.store.InsertCoilIndex(a);
    f.unit.coils[1] = 1;
    f.unit.coils[801] = 1;
    f.unit.coils[1000] = 1;
    f.Run(false);
    ASSERT_EQ(f.unit.requests.size(), 2u);
    EXPECT_EQ(f.unit.requests[0].address, 1);
    EXPECT_EQ(f.unit.requests[0].countOrValue, 800);
    EXPECT_EQ(f.unit.requests[1].address, 801);
    EXPECT_EQ(f.unit.requests[1].countOrValue, 200);
    ASSERT_EQ(f.reports.size(), 2u);
    EXPECT_EQ(f.reports[0].text, "Reading Coils 1 to 800\n");
    EXPECT_EQ(f.reports[0].increment, 800);
    EXPECT_EQ(f.reports[1].text, "Reading Coils 801 to 1000\n");
    EXPECT_EQ(f.reports[1].increment, 200);
    EXPECT_TRUE(f.store.GetCoil(1));
    EXPECT_FALSE(f.store.GetCoil(2));
    EXPECT_TRUE(f.store.GetCoil(801));
    EXPECT_TRUE(f.store.GetCoil(1000));
    EXPECT_TRUE(f.store.IsComplete());
    EXPECT_FALSE(f.store.HasFailed());
}

TEST(StoreRead, SparseRegistersAndBlocksOf50) {
    StoreFixture f;
    for (int32_t a : {10, 11, 12, 20})
        f.store.InsertHoldingRegisterIndex(a);
    for (int32_t a = 100; a < 160; ++a)
        f.store.InsertHoldingRegisterIndex(a);
    f.unit.registers[12] = 0xBEEF;
    f.unit.registers[159] = 42;
    const int steps = f.Run(false);
    EXPECT_EQ(steps, 4) << "one block per step with a listener";
    ASSERT_EQ(f.reports.size(), 4u);
    EXPECT_EQ(f.reports[0].text, "Reading Holding Registers 10 to 12\n");
    EXPECT_EQ(f.reports[1].text, "Reading Holding Registers 20 to 20\n");
    EXPECT_EQ(f.reports[2].text, "Reading Holding Registers 100 to 149\n");
    EXPECT_EQ(f.reports[3].text, "Reading Holding Registers 150 to 159\n");
    EXPECT_EQ(f.reports[0].increment, 3);
    EXPECT_EQ(f.reports[1].increment, 1);
    EXPECT_EQ(f.Sum(), f.store.TotalCount());
    int16_t v;
    f.store.GetHoldingRegisters(12, &v, 1);
    EXPECT_EQ(static_cast<uint16_t>(v), 0xBEEF);
    f.store.GetHoldingRegisters(159, &v, 1);
    EXPECT_EQ(v, 42);
}

TEST(StoreRead, SparseCoilsCostOneRequestPerBlockNotOneStepPerAddress) {
    StoreFixture f;
    f.store.InsertCoilIndex(1);
    f.store.InsertCoilIndex(30001);
    f.Run(false);
    ASSERT_EQ(f.unit.requests.size(), 2u);
    EXPECT_EQ(f.reports.size(), 2u);
    EXPECT_EQ(f.unit.requests[1].address, 30001);
    EXPECT_TRUE(f.store.IsComplete());
}

TEST(StoreRead, FailureInTheThirdBlockKeepsEarlierBlocks) {
    StoreFixture f;
    for (int32_t a : {1, 2})
        f.store.InsertCoilIndex(a);
    for (int32_t a : {10, 20, 30})
        f.store.InsertHoldingRegisterIndex(a);
    f.unit.coils[2] = 1;
    f.unit.registers[10] = 5;
    f.unit.registers[30] = 9;
    f.unit.failRequest = 2;
    f.Run(false);
    EXPECT_EQ(f.unit.requests.size(), 3u) << "later blocks are not attempted";
    ASSERT_EQ(f.reports.size(), 3u);
    EXPECT_EQ(f.reports[2].text, "Reading Holding Registers 20 to 20Failed");
    EXPECT_TRUE(f.reports[2].error);
    EXPECT_EQ(f.reports[2].increment, 0);
    EXPECT_TRUE(f.store.HasFailed());
    EXPECT_EQ(f.store.State(), ssIdle);
    EXPECT_FALSE(f.store.IsComplete());
    EXPECT_TRUE(f.store.GetCoil(2));
    int16_t v;
    f.store.GetHoldingRegisters(10, &v, 1);
    EXPECT_EQ(v, 5);
    f.store.GetHoldingRegisters(30, &v, 1);
    EXPECT_EQ(v, 0);
}

TEST(StoreRead, FailureTextsOfCoilBlocksAndAddressZero) {
    StoreFixture f;
    for (int32_t a = 0; a <= 40; ++a)
        f.store.InsertCoilIndex(a);
    f.Run(false);
    ASSERT_EQ(f.reports.size(), 1u);
    EXPECT_EQ(f.reports[0].text, "Reading coils0 to 40Failed");
    EXPECT_TRUE(f.unit.requests.empty()) << "reference 0 is refused before anything is sent";
    EXPECT_TRUE(f.store.HasFailed());
}

TEST(StoreRead, WithoutListenerOneStepDoesTheWholeRun) {
    TFakeUnitMaster unit;
    TRegisterDataStore store(&unit);
    store.Reset();
    for (int32_t a : {3, 4, 90})
        store.InsertHoldingRegisterIndex(a);
    store.InsertCoilIndex(7);
    store.StartRead();
    store.ReadStep();
    EXPECT_EQ(store.State(), ssIdle);
    EXPECT_EQ(unit.requests.size(), 3u);
    EXPECT_TRUE(store.IsComplete());
}

TEST(StoreRead, EmptyStoreEndsAtOnceAndIsNotComplete) {
    StoreFixture f;
    EXPECT_EQ(f.Run(false), 1);
    EXPECT_TRUE(f.unit.requests.empty());
    EXPECT_TRUE(f.reports.empty());
    EXPECT_FALSE(f.store.IsComplete());
}

TEST(StoreWrite, SingleWritesThenCommitThenEmptyReport) {
    StoreFixture f;
    for (int32_t a : {10, 11, 12, 20})
        f.store.InsertHoldingRegisterIndex(a);
    f.store.InsertCoilIndex(3);
    f.store.SetCoil(3, true);
    const int16_t values[] = {100, -1, 300};
    f.store.SetHoldingRegisters(10, values, 3);
    f.store.SetHoldingRegister(20, 7);
    f.Run(true);
    ASSERT_EQ(f.unit.requests.size(), 6u);
    EXPECT_EQ(f.unit.requests[0].function, 5);
    EXPECT_EQ(f.unit.requests[0].address, 3);
    for (size_t i = 1; i < 5; ++i)
        EXPECT_EQ(f.unit.requests[i].function, 6);
    EXPECT_EQ(f.unit.requests[5].address, 9999);
    EXPECT_EQ(f.unit.requests[5].countOrValue, 123);
    EXPECT_EQ(f.unit.registers[11], 0xFFFF);
    EXPECT_EQ(f.unit.registers[20], 7);
    EXPECT_EQ(f.unit.coils[3], 1);
    ASSERT_EQ(f.reports.size(), 6u);
    EXPECT_EQ(f.reports[0].text, "Writing Coils 3 to 3\n");
    EXPECT_EQ(f.reports[1].text, "Writing Holding Registers 10 to 10\n");
    EXPECT_EQ(f.reports[5].text, "");
    EXPECT_EQ(f.reports[5].increment, 0);
    EXPECT_EQ(f.Sum(), f.store.TotalCount());
    EXPECT_TRUE(f.store.IsComplete());
}

TEST(StoreRuns, AStartDuringARunIsRefusedAndChangesNothing) {
    StoreFixture f;
    for (int32_t a = 1; a <= 1000; ++a)
        f.store.InsertCoilIndex(a);
    f.unit.coils[900] = 1;
    ASSERT_EQ(f.store.StartRead(), TRunStart::Started);
    f.store.ReadStep(); // the first of two blocks
    ASSERT_EQ(f.store.State(), ssReading);
    f.store.SetCoil(5, true);

    // Neither a write nor a second read may start under the read.
    EXPECT_EQ(f.store.StartWrite(), TRunStart::Busy);
    EXPECT_EQ(f.store.StartRead(), TRunStart::Busy);
    EXPECT_EQ(TRegisterDataStore::RunStartText(TRunStart::Busy), TRegisterDataStore::BusyText);
    EXPECT_EQ(f.store.State(), ssReading);
    EXPECT_EQ(f.store.SendCount(), 0);

    // The read goes on where it was: one more block, and nothing was sent.
    for (int steps = 0; f.store.State() == ssReading && steps < 10; ++steps)
        f.store.ReadStep();
    EXPECT_EQ(f.store.State(), ssIdle);
    ASSERT_EQ(f.unit.requests.size(), 2u);
    EXPECT_EQ(f.unit.requests[1].address, 801);
    EXPECT_EQ(f.unit.requests[1].function, 1);
    EXPECT_TRUE(f.store.GetCoil(900));
    EXPECT_TRUE(f.store.IsComplete());

    // Nor may a read start under a write.
    ASSERT_EQ(f.store.StartWrite(), TRunStart::Started);
    const int32_t total = f.store.SendCount();
    EXPECT_EQ(f.store.StartRead(), TRunStart::Busy);
    EXPECT_EQ(f.store.StartWrite(), TRunStart::Busy);
    EXPECT_EQ(f.store.State(), ssWriting);
    EXPECT_EQ(f.store.SendCount(), total);
}

TEST(StoreWrite, FailureSendsNoCommit) {
    StoreFixture f;
    for (int32_t a : {10, 11})
        f.store.InsertHoldingRegisterIndex(a);
    f.store.InsertCoilIndex(4);
    f.unit.failRequest = 0;
    f.Run(true);
    ASSERT_EQ(f.unit.requests.size(), 1u);
    ASSERT_EQ(f.reports.size(), 1u);
    EXPECT_EQ(f.reports[0].text, "Writing coils4 to 4Failed");
    EXPECT_TRUE(f.store.HasFailed());

    f.reports.clear();
    f.unit.requests.clear();
    f.unit.failRequest = 2; // coil 4, register 10, then register 11
    f.Run(true);
    EXPECT_EQ(f.reports.back().text, "Writing Holding Registers 11 to 11Failed");
    for (const auto& r : f.unit.requests)
        EXPECT_NE(r.address, 9999);
}

TEST(StoreWrite, EmptyStoreStillCommits) {
    StoreFixture f;
    EXPECT_EQ(f.Run(true), 1);
    ASSERT_EQ(f.unit.requests.size(), 1u);
    EXPECT_EQ(f.unit.requests[0].address, 9999);
    ASSERT_EQ(f.reports.size(), 1u);
    EXPECT_EQ(f.reports[0].text, "");
}

TEST(StoreRuns, ResetDiscardsImagesAndRunsNeedAProtocol) {
    StoreFixture f;
    f.store.InsertHoldingRegisterIndex(5);
    f.store.SetHoldingRegister(5, 9);
    f.store.Reset();
    EXPECT_EQ(f.store.TotalCount(), 0);
    EXPECT_THROW(f.store.SetHoldingRegister(5, 1), std::out_of_range);

    TRegisterDataStore orphan;
    orphan.Reset();
    orphan.InsertHoldingRegisterIndex(5);
    orphan.StartRead();
    orphan.ReadStep();
    EXPECT_TRUE(orphan.HasFailed()) << "a run without a protocol fails instead of crashing";
}

TEST(StoreWrite, AnUnansweredCommitIsNoFailureButIsNamed) {
    StoreFixture f;
    f.store.InsertHoldingRegisterIndex(10);
    f.Run(true);
    EXPECT_EQ(f.store.CommitNote(), "") << "the commit was answered";
    f.reports.clear();
    f.unit.requests.clear();
    f.unit.failRequest = 1; // register 10, then the commit
    f.Run(true);
    EXPECT_FALSE(f.store.HasFailed());
    EXPECT_TRUE(f.store.IsComplete());
    ASSERT_FALSE(f.reports.empty());
    EXPECT_EQ(f.reports.back().text, "");
    EXPECT_FALSE(f.reports.back().error);
    EXPECT_EQ(f.store.CommitNote(), "The unit did not answer the save command (commit to register 9999: " +
                                        ErrorText(FTALK_REPLY_TIMEOUT_ERROR) +
                                        "). If it was restarted before it finished saving, write again.");
    // The next write starts without the last one's note.
    f.unit.failRequest = -1;
    f.Run(true);
    EXPECT_EQ(f.store.CommitNote(), "");
}

TEST(StoreRuns, ARunResetWhileItsRequestIsOnTheWireIsAbandonedNotFailed) {
    StoreFixture f;
    f.store.InsertHoldingRegisterIndex(10);
    f.store.InsertHoldingRegisterIndex(11);
    f.store.StartRead();
    // The gate is where the caller lets its lock go: the user disconnects meanwhile.
    const TExchangeGate resetting = [&](const std::function<int32_t()>& request) {
        const int32_t result = request();
        f.store.Reset();
        return result;
    };
    f.store.ReadStep(resetting);
    EXPECT_EQ(f.store.State(), ssCollecting) << "the new run was ended by the old one's step";
    EXPECT_FALSE(f.store.HasFailed());
    EXPECT_TRUE(f.reports.empty());
}

// ---- Change-only, verified and stopped runs -----------------------------------------------

namespace {

// Registers 10 to 30 and coil 3, read from the unit; register 40 only a display shows.
struct ConfirmedFixture : StoreFixture {
    ConfirmedFixture() {
        for (int32_t a = 10; a <= 30; ++a)
            store.InsertHoldingRegisterIndex(a);
        store.InsertHoldingRegisterIndex(10); // a second setting in register 10
        store.InsertHoldingRegisterIndex(40, false);
        store.InsertCoilIndex(3);
        Run(false);
        unit.requests.clear();
        reports.clear();
    }
    // Runs a write to its end through `gate`; false when it had nothing to do.
    bool Write(const TWriteOptions& options, const TExchangeGate& gate = {}) {
        unit.requests.clear();
        reports.clear();
        if (store.StartWrite(options) != TRunStart::Started)
            return false;
        for (int steps = 0; store.State() == ssWriting && steps < 10000; ++steps)
            store.WriteStep(gate);
        return true;
    }
    std::vector<int32_t> Written() const {
        std::vector<int32_t> addresses;
        for (const auto& r : unit.requests) {
            if (r.function == 5 || r.function == 6)
                addresses.push_back(r.address);
        }
        return addresses;
    }
};

const TWriteOptions ChangedOnly{true, false};

} // namespace

TEST(StoreChangedWrite, SendsOnlyWhatDiffersOnceThenNothingAndAllOnRequest) {
    ConfirmedFixture f;
    f.store.SetHoldingRegisterBits(10, 3, 0x000F);
    f.store.SetHoldingRegisterBits(10, 2, 0x00F0);
    f.store.SetHoldingRegister(40, 99); // a live reading, never sent by a change-only write
    ASSERT_TRUE(f.Write(ChangedOnly));
    EXPECT_EQ(f.Written(), (std::vector<int32_t>{10, 9999}));
    EXPECT_EQ(f.Sum(), 1) << "the bar counts what is sent";

    EXPECT_FALSE(f.Write(ChangedOnly)) << "nothing differs";
    EXPECT_TRUE(f.unit.requests.empty());
    EXPECT_EQ(f.store.LastResult(), TRunResult::Unchanged);

    ASSERT_TRUE(f.Write({false, false}));
    EXPECT_EQ(f.Written().size(), 21u + 1u + 1u + 1u) << "registers, the display's, the coil, the commit";
}

TEST(StoreChangedWrite, WhatAFailedOrUnsavedRunSentIsSentAgainWithOneCommit) {
    ConfirmedFixture f;
    for (int32_t a : {10, 11, 12})
        f.store.SetHoldingRegister(a, static_cast<int16_t>(a));
    f.unit.failRequest = 1; // register 11
    f.Write(ChangedOnly);
    EXPECT_TRUE(f.store.HasFailed());
    EXPECT_TRUE(f.store.CommitOwed());
    f.unit.failRequest = -1;
    f.Write(ChangedOnly);
    EXPECT_EQ(f.Written(), (std::vector<int32_t>{10, 11, 12, 9999}));

    f.store.SetHoldingRegister(20, 5);
    f.unit.failRequest = 1; // the commit goes unanswered
    f.Write(ChangedOnly);
    EXPECT_FALSE(f.store.CommitNote().empty());
    f.unit.failRequest = -1;
    // Back to the value the unit confirmed before: the unit may hold either now.
    f.store.SetHoldingRegister(20, 0);
    ASSERT_TRUE(f.Write(ChangedOnly)) << "an unsaved value is not confirmed";
    EXPECT_EQ(f.Written(), (std::vector<int32_t>{20, 9999}));
    EXPECT_FALSE(f.store.CommitOwed());
}

TEST(StoreChangedWrite, VerificationGroupsCheapNeighboursAndShowsWhatTheUnitHolds) {
    ConfirmedFixture f;
    for (int32_t a : {10, 15, 30})
        f.store.SetHoldingRegister(a, 7);
    // The unit keeps 5 in register 15 whatever it was sent.
    const TExchangeGate clamping = [&f](const std::function<int32_t()>& request) {
        const int32_t result = request();
        f.unit.registers[15] = 5;
        return result;
    };
    ASSERT_TRUE(f.Write({true, true}, clamping));
    std::vector<std::pair<int32_t, int32_t>> reads;
    for (const auto& r : f.unit.requests) {
        if (r.function == 3)
            reads.emplace_back(r.address, r.countOrValue);
    }
    // 10 and 15 share a read (four registers between them cost less than a request); 30 is 15
    // further on and gets its own.
    EXPECT_EQ(reads, (std::vector<std::pair<int32_t, int32_t>>{{10, 6}, {30, 1}}));
    ASSERT_EQ(f.store.Differences().size(), 1u);
    EXPECT_EQ(f.store.Differences()[0].Address, 15);
    EXPECT_EQ(f.store.Differences()[0].Sent, 7);
    EXPECT_EQ(f.store.Differences()[0].Held, 5);
    int16_t shown = 0;
    f.store.GetHoldingRegisters(15, &shown, 1);
    EXPECT_EQ(shown, 5) << "the image shows what the unit holds";
    EXPECT_FALSE(f.Write(ChangedOnly)) << "and it is confirmed";
}

TEST(StoreChangedWrite, AStopEndsTheRunWithoutACommitAndWritingAgainFinishes) {
    ConfirmedFixture f;
    for (int32_t a : {10, 11, 12})
        f.store.SetHoldingRegister(a, 1);
    const TExchangeGate stopping = [&f](const std::function<int32_t()>& request) {
        f.store.RequestStop();
        return request();
    };
    f.Write(ChangedOnly, stopping);
    EXPECT_EQ(f.Written(), (std::vector<int32_t>{10})) << "the exchange in flight completes, no commit";
    EXPECT_EQ(f.store.LastResult(), TRunResult::Stopped);
    EXPECT_EQ(f.reports.back().text,
              "Write stopped: 1 of 3 sent; the unit has not saved them (no commit). Write again to finish.");
    f.Write(ChangedOnly);
    EXPECT_EQ(f.Written(), (std::vector<int32_t>{10, 11, 12, 9999}));

    f.unit.requests.clear();
    f.reports.clear();
    f.store.StartRead();
    for (int steps = 0; f.store.State() == ssReading && steps < 100; ++steps)
        f.store.ReadStep(stopping);
    EXPECT_EQ(f.unit.requests.size(), 1u);
    EXPECT_EQ(f.store.LastResult(), TRunResult::Stopped);
    EXPECT_EQ(f.reports.back().text, "Read stopped: 1 of 23 read.");
    EXPECT_FALSE(f.store.IsComplete());
}
