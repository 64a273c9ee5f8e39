#include "modbus/Tracefile.h"

#include "base/Csv.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace {

// The commit, as a master sends it.
const TTrafficFrame Commit{0, TTrafficDirection::Sent, {0x07, 0x06, 0x27, 0x0E, 0x00, 0x7B, 0xA2, 0x9E}};

} // namespace

// Two writers on one file, as a commissioning run's children are: the first starts it, both
// append whole lines, each naming its target; the header row comes once, first.
TEST(Tracefile, WritersSharingACsvFileKeepTheirLinesWholeUnderOneHeader) {
    TTempDir dir;
    const std::string path = dir.Path("trace.CSV");
    TTraceFile first("COM1@7");
    TTraceFile second("tcp://10.0.0.5:502@7");
    ASSERT_EQ(first.Open(path, true), "");
    ASSERT_EQ(second.Open(path, false), "");
    constexpr int Frames = 300;
    std::thread other([&] {
        for (int i = 0; i < Frames; ++i)
            second.Frame(Commit);
    });
    for (int i = 0; i < Frames; ++i)
        first.Frame(Commit);
    other.join();

    const auto rows = ParseCsv(ReadFileText(path));
    ASSERT_EQ(rows.size(), 1u + 2 * Frames);
    EXPECT_EQ(rows[0].at(1), "target");
    std::map<std::string, int> perTarget;
    for (size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), rows[0].size()) << i;
        EXPECT_EQ(rows[i][9], "9999");
        ++perTarget[rows[i][1]];
    }
    EXPECT_EQ(perTarget, (std::map<std::string, int>{{"COM1@7", Frames}, {"tcp://10.0.0.5:502@7", Frames}}));

    EXPECT_EQ(TTraceFile().Open(dir.Path("none/trace.txt"), true),
              dir.Path("none/trace.txt") + ": " + std::strerror(ENOENT));
}
