// Calls a worker thread posts to the window: they run on the window's thread, in the order
// posted, and what the worker built for them reaches them whole (ThreadSanitizer watches the
// hand-over in its build).
#include "app/Queuedcall.h"

#include <QObject>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

TEST(QueuedCall, CallsFromAWorkerRunOnTheReceiversThreadInOrderWithWhatTheWorkerBuilt) {
    QObject receiver;
    constexpr int Calls = 50;
    std::vector<std::string> seen; // touched on this thread only
    bool onReceiversThread = true;
    std::thread worker([&receiver, &seen, &onReceiversThread] {
        for (int i = 0; i < Calls; ++i) {
            // Long enough to live on the heap, written by this thread and read by the call.
            std::string text = "call " + std::to_string(i) + std::string(40, '.');
            QueueCall(&receiver, [&receiver, &seen, &onReceiversThread, text] {
                onReceiversThread = onReceiversThread && QThread::currentThread() == receiver.thread();
                seen.push_back(text);
            });
        }
    });
    const bool arrived = QTest::qWaitFor([&seen] { return seen.size() == Calls; }, 10000);
    worker.join();
    ASSERT_TRUE(arrived) << seen.size() << " of " << Calls << " calls arrived";
    EXPECT_TRUE(onReceiversThread);
    for (int i = 0; i < Calls; ++i)
        EXPECT_EQ(seen[i], "call " + std::to_string(i) + std::string(40, '.'));
}
