#include "app/Progress.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// A tracker whose reopen attempts and pauses are recorded instead of waited for.
struct TTrackerRig {
    TProgressTracker tracker;
    std::vector<bool> reopenResults; // answers, in turn; false when they run out
    int reopenCalls = 0;
    std::vector<std::string> log;

    TTrackerRig() {
        tracker.ReopenPort = [this] {
            log.push_back("reopen");
            const bool result =
                reopenCalls < static_cast<int>(reopenResults.size()) && reopenResults[reopenCalls];
            ++reopenCalls;
            return result;
        };
        tracker.Sleep = [this](std::chrono::milliseconds pause) {
            log.push_back("sleep " + std::to_string(pause.count()));
        };
    }
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
    EXPECT_EQ(rig.reopenCalls, 0);
}

TEST(ProgressTracker, AnErrorWithoutAFailedStoreIsNoFailure) {
    TTrackerRig rig;
    rig.tracker.Begin(2, true);
    const auto outcome = rig.tracker.Report("Bad value", true, 2, false, false);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Failed);
    EXPECT_FALSE(outcome.ShowDisconnected);
    EXPECT_EQ(rig.reopenCalls, 0);
}

TEST(ProgressTracker, AFailedWriteTriesThreeReopensOneSecondApart) {
    TTrackerRig rig;
    rig.tracker.Begin(50, true);
    const auto outcome = rig.tracker.Report("Write failed", true, 0, false, true);
    EXPECT_TRUE(outcome.Writing);
    EXPECT_TRUE(outcome.ShowDisconnected);
    EXPECT_EQ(outcome.FailMessage, "Write failed");
    // A pause follows every failed attempt, the third included.
    EXPECT_EQ(rig.log, (std::vector<std::string>{"reopen", "sleep 1000", "reopen", "sleep 1000", "reopen",
                                                 "sleep 1000"}));
}

TEST(ProgressTracker, AFailedWriteStopsAtTheFirstReopenThatWorks) {
    TTrackerRig rig;
    rig.reopenResults = {false, true, true};
    rig.tracker.Begin(50, true);
    const auto outcome = rig.tracker.Report("Write failed", true, 0, false, true);
    EXPECT_EQ(rig.log, (std::vector<std::string>{"reopen", "sleep 1000", "reopen"}));
    EXPECT_FALSE(outcome.ShowDisconnected);
    EXPECT_TRUE(outcome.Failed);
    EXPECT_EQ(outcome.FailMessage, "Writing settings failed, please try writing again");
}

TEST(ProgressTracker, WritingEndsWithTheRun) {
    TTrackerRig rig;
    rig.tracker.Begin(3, true);
    EXPECT_TRUE(rig.tracker.Writing());
    EXPECT_TRUE(rig.tracker.Report("", false, 1, false, false).Writing);
    EXPECT_TRUE(rig.tracker.Writing());
    EXPECT_TRUE(rig.tracker.Report("", false, 2, false, false).Writing);
    EXPECT_FALSE(rig.tracker.Writing());
    // The next report (a single setting's read) is no longer part of the write.
    EXPECT_FALSE(rig.tracker.Report("", false, 1, true, false).Writing);
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
