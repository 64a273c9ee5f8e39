// Reports a worker thread posts to its owner: they are taken on the owner's thread, in the order
// posted, and what the worker built for them reaches them whole (ThreadSanitizer watches the
// hand-over in its build).
#include "link/Serialmanager.h"
#include "modbus/Registerdatastore.h"

#include <QTest>
#include <QThread>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

TEST(WorkerReports, ReportsFromAWorkerRunOnTheOwnersThreadInOrderWithWhatTheWorkerBuilt) {
    TRegisterDataStore store;
    TSerialManager manager(&store);
    constexpr int Reports = 50;
    std::vector<std::string> seen; // touched on this thread only
    bool onOwnersThread = true;
    QThread* owner = QThread::currentThread();
    manager.OnReport = [&](const TWorkerReport& report) {
        onOwnersThread = onOwnersThread && QThread::currentThread() == owner;
        if (const auto* error = std::get_if<TWriteErrorReport>(&report.Value))
            seen.push_back(error->Text);
    };
    std::thread worker([&manager] {
        for (int i = 0; i < Reports; ++i) {
            // Long enough to live on the heap, written by this thread and read by the owner.
            manager.Reports().Post(TWriteErrorReport{"report " + std::to_string(i) + std::string(40, '.')});
        }
    });
    const bool arrived = QTest::qWaitFor([&seen] { return seen.size() == Reports; }, 10000);
    worker.join();
    ASSERT_TRUE(arrived) << seen.size() << " of " << Reports << " reports arrived";
    EXPECT_TRUE(onOwnersThread);
    for (int i = 0; i < Reports; ++i)
        EXPECT_EQ(seen[i], "report " + std::to_string(i) + std::string(40, '.'));
}

TEST(WorkerReports, ARefreshQueuesOnceAnEndedWorkersResultIsDroppedAndRunsAreStamped) {
    TReportQueue queue;
    // Only the workers' addresses matter here.
    int first = 0;
    int second = 0;
    auto* ended = reinterpret_cast<TSerialThread*>(&first);
    auto* running = reinterpret_cast<TSerialThread*>(&second);
    queue.Post(TRefreshReport{});
    queue.Post(TSearchReport{ended, 17, true});
    queue.Post(TRefreshReport{});
    queue.Post(TSearchReport{running, 18, false});
    queue.NewRun();
    queue.Post(TBeginReadReport{5});
    queue.Discard(ended);
    EXPECT_TRUE(queue.WaitUntil(std::chrono::steady_clock::now()));

    auto report = queue.Take();
    ASSERT_TRUE(report);
    EXPECT_TRUE(std::holds_alternative<TRefreshReport>(report->Value));
    EXPECT_EQ(report->Run, 0u);
    report = queue.Take();
    ASSERT_TRUE(report);
    const auto* search = std::get_if<TSearchReport>(&report->Value);
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->Worker, running);
    EXPECT_EQ(search->DeviceId, 18);
    report = queue.Take();
    ASSERT_TRUE(report);
    ASSERT_TRUE(std::holds_alternative<TBeginReadReport>(report->Value));
    EXPECT_EQ(std::get<TBeginReadReport>(report->Value).Total, 5);
    EXPECT_EQ(report->Run, queue.Run());
    EXPECT_FALSE(queue.Take());
    EXPECT_FALSE(queue.WaitUntil(std::chrono::steady_clock::now()));

    // Once taken, the next refresh queues again.
    queue.Post(TRefreshReport{});
    report = queue.Take();
    ASSERT_TRUE(report);
    EXPECT_TRUE(std::holds_alternative<TRefreshReport>(report->Value));
}
