// The window's traffic log: a ring of the last frames fed from any thread, paused and cleared by
// the engineer, taken piecewise by the table and saved as a trace file.
#include "link/Trafficlog.h"
#include "base/Csv.h"
#include "link/Porttrafficsink.h"
#include "modbus/Trafficdecoder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

// A request told apart by its wire address.
TTrafficFrame Request(int number) {
    return {TrafficNowUs(), TTrafficDirection::Sent, {1, 4, uint8_t(number >> 8), uint8_t(number), 0, 1}};
}
int Number(const TTrafficFrame& frame) {
    return frame.bytes[2] << 8 | frame.bytes[3];
}

} // namespace

TEST(TrafficLog, KeepsTheLastFramesPausesClearsAndHandsEachOnlyOnce) {
    TTrafficLog log;
    uint64_t seen = 0;
    for (int i = 0; i < int(TTrafficLog::Capacity) + 123; ++i)
        log.Frame(Request(i));
    auto taken = log.TakeSince(seen);
    ASSERT_EQ(taken.size(), TTrafficLog::Capacity);
    EXPECT_EQ(Number(taken.front()), 123);
    EXPECT_EQ(Number(taken.back()), int(TTrafficLog::Capacity) + 122);

    log.SetPaused(true);
    log.Frame(Request(1));
    log.SetPaused(false);
    log.Frame(Request(2));
    taken = log.TakeSince(seen);
    ASSERT_EQ(taken.size(), 1U);
    EXPECT_EQ(Number(taken[0]), 2);

    log.Frame(Request(3)); // not taken before the clear: gone with it
    log.Clear();
    EXPECT_TRUE(log.Frames().empty());
    log.Frame(Request(4));
    taken = log.TakeSince(seen);
    ASSERT_EQ(taken.size(), 1U);
    EXPECT_EQ(Number(taken[0]), 4);
}

TEST(TrafficLog, SavesCsvOrTextByTheNamesEndingWithEachFramesPort) {
    TTrafficLog log;
    const TTrafficFrame sent{TrafficNowUs(), TTrafficDirection::Sent, {1, 6, 0x27, 0x0e, 0, 1, 0xe2, 0x3d}};
    TPortTrafficSink(log, "COM3").Frame(sent);
    log.Frame({sent.timeUs + 1500, TTrafficDirection::NoReply, {}, TTrafficFraming::Rtu, 1000});
    TTempDir dir;
    log.Save(dir.Path("trace.CSV"));
    const auto rows = ParseCsv(ReadFileText(dir.Path("trace.CSV")));
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(rows[0], TrafficCsvHeader());
    EXPECT_EQ(rows[1][0], std::to_string(sent.timeUs - log.OriginUs()));
    EXPECT_EQ(rows[1][1], "COM3"); // target
    EXPECT_EQ(rows[1][9], "9999"); // reference
    EXPECT_EQ(rows[2][1], "");
    EXPECT_EQ(rows[2][2], "no reply");

    log.Save(dir.Path("trace.txt"));
    const std::string text = ReadFileText(dir.Path("trace.txt"));
    EXPECT_EQ(text.substr(0, text.find('\n')), TrafficLine(sent, log.OriginUs(), "COM3"));
    EXPECT_NE(text.find("| no reply after 1000 ms\n"), std::string::npos) << text;
}

TEST(TrafficLog, FramesFromTwoThreadsAllArriveInEachThreadsOrder) {
    TTrafficLog log;
    constexpr int PerThread = 3000;
    const auto feed = [&log](int base) {
        for (int i = 0; i < PerThread; ++i)
            log.Frame(Request(base + i));
    };
    std::thread first(feed, 0), second(feed, 20000);
    uint64_t seen = 0;
    std::vector<TTrafficFrame> taken;
    const auto take = [&] {
        for (TTrafficFrame& frame : log.TakeSince(seen))
            taken.push_back(std::move(frame));
    };
    while (taken.size() < PerThread) // taking while they feed
        take();
    first.join();
    second.join();
    take();
    ASSERT_EQ(taken.size(), 2U * PerThread);
    int last[2] = {-1, 19999};
    for (const TTrafficFrame& frame : taken)
        EXPECT_EQ(Number(frame), ++last[Number(frame) >= 20000]);
}
