#include "link/Runprogress.h"
#include "modbus/Registerdatastore.h"
#include "support/FakeUnit.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct TTrackerRig {
    TProgressTracker tracker;
};

} // namespace

TEST(ProgressTracker, ARunEndsOnTheReportThatReachesTheTotal) {
    TTrackerRig rig;
    rig.tracker.Begin(10, false);
    auto outcome = rig.tracker.Report("Reading coils", false, 4, false, false);
    EXPECT_FALSE(outcome.Finished);
    EXPECT_EQ(outcome.Position, 4);
    EXPECT_EQ(outcome.Maximum, 10);
    EXPECT_EQ(outcome.Text, "Reading coils");
    outcome = rig.tracker.Report("Reading registers", false, 6, false, false);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Failed);
    EXPECT_FALSE(outcome.Writing);
    EXPECT_EQ(outcome.Position, 10);
}

TEST(ProgressTracker, TheStoreEndsARunEarlyWhenCompleteOrFailed) {
    TTrackerRig rig;
    rig.tracker.Begin(100, false);
    EXPECT_TRUE(rig.tracker.Report("", false, 1, true, false).Finished);
    rig.tracker.Begin(100, false);
    EXPECT_TRUE(rig.tracker.Report("", false, 1, false, true).Finished);
    // A store without registers ends on its first report.
    rig.tracker.Begin(0, false);
    EXPECT_TRUE(rig.tracker.Report("", false, 0, false, false).Finished);
}

TEST(ProgressTracker, ThePositionStaysWithinTheBar) {
    TTrackerRig rig;
    rig.tracker.Begin(20, false);
    EXPECT_EQ(rig.tracker.Report("", false, -5, false, false).Position, 0);
    EXPECT_EQ(rig.tracker.Report("", false, 15, false, false).Position, 15);
    EXPECT_EQ(rig.tracker.Report("", false, 100, false, false).Position, 20);
    // Before any run the bar has its initial range 0 to 100 and the total is 0.
    TProgressTracker fresh;
    const auto outcome = fresh.Report("", false, 250, false, false);
    EXPECT_EQ(outcome.Maximum, 100);
    EXPECT_EQ(outcome.Position, 100);
    EXPECT_TRUE(outcome.Finished);
}

TEST(ProgressTracker, AFailedReadShowsDisconnectedWithTheReportText) {
    TTrackerRig rig;
    rig.tracker.Begin(50, false);
    const auto outcome = rig.tracker.Report("Timeout reading registers", true, 0, false, true);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_TRUE(outcome.Failed);
    EXPECT_TRUE(outcome.ShowDisconnected);
    EXPECT_EQ(outcome.FailMessage, "Timeout reading registers");
}

TEST(ProgressTracker, AnErrorWithoutAFailedStoreIsNoFailure) {
    TTrackerRig rig;
    rig.tracker.Begin(2, true);
    const auto outcome = rig.tracker.Report("Bad value", true, 2, false, false);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Failed);
    EXPECT_FALSE(outcome.ShowDisconnected);
}

TEST(ProgressTracker, AFailedWriteLeavesTheReopenToTheLinkAndWaitsForIt) {
    TTrackerRig rig;
    rig.tracker.Begin(50, true);
    const auto outcome = rig.tracker.Report("Write failed", true, 0, false, true);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_TRUE(outcome.Failed);
    EXPECT_TRUE(outcome.Writing);
    EXPECT_TRUE(outcome.AwaitReopen);
    EXPECT_FALSE(outcome.ShowDisconnected);
    EXPECT_EQ(outcome.FailMessage, "Write failed");
}

TEST(ProgressTracker, AWriteEndsWithTheStoresReportAfterItsCommitAndOnlyOnce) {
    TTrackerRig rig;
    rig.tracker.Begin(3, true);
    EXPECT_TRUE(rig.tracker.Writing());
    EXPECT_TRUE(rig.tracker.Report("", false, 1, false, false).Writing);
    // The last block is not the result: the commit is still to come.
    const auto lastBlock = rig.tracker.Report("", false, 2, false, false);
    EXPECT_FALSE(lastBlock.Finished);
    EXPECT_TRUE(rig.tracker.Writing());
    const auto committed = rig.tracker.Report("", false, 0, true, false);
    EXPECT_TRUE(committed.Finished);
    EXPECT_TRUE(committed.Writing);
    EXPECT_FALSE(rig.tracker.Writing());
    // A later report (a single setting's read) completes nothing: no second end, as a read.
    const auto stray = rig.tracker.Report("", false, 1, true, false);
    EXPECT_FALSE(stray.Finished);
    EXPECT_TRUE(stray.Stray);
    // The next run counts again.
    rig.tracker.Begin(1, false);
    EXPECT_TRUE(rig.tracker.Report("", false, 1, false, false).Finished);
}

TEST(ProgressTracker, ReportsFromAWorkerAndThisThreadAddUpInOrder) {
    TTrackerRig rig;
    const int perThread = 2000;
    rig.tracker.Begin(2 * perThread, false);
    std::vector<int32_t> workerPositions;
    std::thread worker([&] {
        for (int i = 0; i < perThread; ++i)
            workerPositions.push_back(rig.tracker.Report("", false, 1, false, false).Position);
    });
    int finished = 0;
    for (int i = 0; i < perThread; ++i)
        finished += rig.tracker.Report("", false, 1, false, false).Finished ? 1 : 0;
    worker.join();
    // Every report counted once; positions seen by one thread only rise.
    for (size_t i = 1; i < workerPositions.size(); ++i)
        ASSERT_LT(workerPositions[i - 1], workerPositions[i]);
    const bool workerFinished = workerPositions.back() == 2 * perThread;
    EXPECT_EQ(finished + (workerFinished ? 1 : 0), 1);
    EXPECT_EQ(rig.tracker.Report("", false, 0, false, false).Position, 2 * perThread);
}

// The tracker fed by a real store's own reports, as the window and the command line feed it.
namespace {

struct TStoreRunRig {
    TFakeUnitMaster unit;
    TRegisterDataStore store{&unit};
    TProgressTracker tracker;
    std::vector<TProgressOutcome> outcomes;

    TStoreRunRig() {
        store.OnProgress = [this](TRegisterDataStore* sender, const std::string& text, bool error,
                                  int32_t inc) {
            outcomes.push_back(tracker.Report(*sender, text, error, inc));
        };
        store.Reset();
        for (int32_t a : {1, 2})
            store.InsertCoilIndex(a);
        for (int32_t a : {10, 11, 12})
            store.InsertHoldingRegisterIndex(a);
        Read();
    }
    void Read(const TExchangeGate& gate = {}) {
        outcomes.clear();
        store.StartRead();
        tracker.Begin(store.TotalCount(), false);
        for (int steps = 0; store.State() == ssReading && steps < 100; ++steps)
            store.ReadStep(gate);
    }
    bool Write(const TWriteOptions& options, const TExchangeGate& gate = {}) {
        outcomes.clear();
        if (tracker.BeginWrite(store, options) != TRunStart::Started)
            return false;
        for (int steps = 0; store.State() == ssWriting && steps < 100; ++steps)
            store.WriteStep(gate);
        return true;
    }
    int Ends() const {
        int ends = 0;
        for (const auto& outcome : outcomes)
            ends += outcome.Finished ? 1 : 0;
        return ends;
    }
};

} // namespace

TEST(ProgressTrackerOnAStore, EachRunEndsOnceOnItsLastReportAndSaysHow) {
    TStoreRunRig rig;
    ASSERT_FALSE(rig.outcomes.empty());
    EXPECT_EQ(rig.Ends(), 1);
    EXPECT_TRUE(rig.outcomes.back().Finished);
    EXPECT_FALSE(rig.outcomes.back().Writing);

    // A verified write: neither its blocks nor its commit's "Verifying" report end it.
    rig.store.SetHoldingRegister(11, 7);
    ASSERT_TRUE(rig.Write({true, true}));
    EXPECT_EQ(rig.tracker.Total(), 1);
    ASSERT_GE(rig.outcomes.size(), 3u);
    EXPECT_EQ(rig.Ends(), 1);
    EXPECT_TRUE(rig.outcomes.back().Finished);
    EXPECT_TRUE(rig.outcomes.back().Writing);
    EXPECT_FALSE(rig.outcomes.back().Failed);
    EXPECT_FALSE(rig.outcomes.back().Stopped);
    EXPECT_EQ(rig.outcomes.back().Position, 1);

    // Nothing differs: no run, nothing counted.
    EXPECT_FALSE(rig.Write({true, true}));
    EXPECT_TRUE(rig.outcomes.empty());
}

TEST(ProgressTrackerOnAStore, AStoppedRunEndsStoppedWithTheStoresText) {
    TStoreRunRig rig;
    const TExchangeGate stopping = [&rig](const std::function<int32_t()>& request) {
        rig.store.RequestStop();
        return request();
    };
    for (int32_t a : {10, 11, 12})
        rig.store.SetHoldingRegister(a, 5);
    ASSERT_TRUE(rig.Write({true, false}, stopping));
    EXPECT_EQ(rig.Ends(), 1);
    const TProgressOutcome& write = rig.outcomes.back();
    EXPECT_TRUE(write.Finished && write.Stopped && write.Writing);
    EXPECT_FALSE(write.Failed);
    EXPECT_EQ(write.Text, TRegisterDataStore::WriteStoppedText(1, 3));

    rig.Read(stopping);
    EXPECT_EQ(rig.Ends(), 1);
    const TProgressOutcome& read = rig.outcomes.back();
    EXPECT_TRUE(read.Finished && read.Stopped);
    EXPECT_FALSE(read.Writing);
    EXPECT_EQ(read.Text, TRegisterDataStore::ReadStoppedText(2, 5));
}

TEST(ProgressTrackerOnAStore, AFailedWriteAwaitsTheReopenAndAFailedReadDisconnects) {
    TStoreRunRig rig;
    rig.store.SetCoil(2, true);
    rig.unit.failAll = true;
    ASSERT_TRUE(rig.Write({true, true}));
    EXPECT_EQ(rig.Ends(), 1);
    EXPECT_TRUE(rig.outcomes.back().Failed);
    EXPECT_TRUE(rig.outcomes.back().AwaitReopen);
    EXPECT_EQ(rig.outcomes.back().FailMessage, "Writing coils2 to 2Failed");

    rig.Read();
    EXPECT_EQ(rig.Ends(), 1);
    EXPECT_TRUE(rig.outcomes.back().Failed);
    EXPECT_TRUE(rig.outcomes.back().ShowDisconnected);
    EXPECT_FALSE(rig.outcomes.back().AwaitReopen);
}
