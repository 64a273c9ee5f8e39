#include "app/Progress.h"

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
