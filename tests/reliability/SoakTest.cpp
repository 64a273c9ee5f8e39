// Read and write runs against the simulator on a line that spoils 5 % of the replies, with every
// kind of fault: each run that fails is repeated, as the user would after the error box, and
// after every cycle the unit's image as read back equals the program's. The cycle count comes
// from DEZ_SOAK_CYCLES (500 for the full soak; CI runs a short one).
#include "LineSupport.h"

#include <fstream>
#include <random>
#include <sstream>

namespace {

int SoakCycles() {
    const char* text = std::getenv("DEZ_SOAK_CYCLES");
    const int cycles = text != nullptr ? std::atoi(text) : 0;
    return cycles > 0 ? cycles : 20;
}

// Resident memory of the process in KiB.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

} // namespace

TEST_F(TLineFixture, SoakOfReadAndWriteRunsOnAFaultyLine) {
    constexpr int Coils = 12;
    constexpr int Registers = 30;
    const int cycles = SoakCycles();
    Load(Coils, Registers);
    // Seven kinds at 0.75 % each: about 5 % of the replies are spoilt. The slow reply comes after
    // the master's 250 ms time-out, in the middle of the next exchange.
    QStringList arguments{"--seed", "11", "--slow-ms", "300", "--fault-after", "1"};
    for (const char* kind :
         {"no-reply", "bad-crc", "wrong-slave", "exception", "garbage", "truncated", "slow"})
        arguments << "--fault" << QString::fromLatin1(kind) + "=0.0075";
    auto sim = StartSim(arguments);
    ASSERT_TRUE(Connect(sim->Port()));
    int failedReads = 0;
    int failedWrites = 0;
    while (!AwaitRun()) {
        ++failedReads;
        ClearReports();
        store.Reset();
    }

    std::mt19937 random(7);
    std::uniform_int_distribution<int> word(-32768, 32767);
    long residentAtStart = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        std::vector<int32_t> wanted;
        for (int i = 0; i < Coils + Registers; ++i)
            wanted.push_back(i < Coils ? word(random) & 1 : word(random));
        SetImage(wanted, Coils, Registers);

        Write();
        while (!AwaitRun()) {
            ++failedWrites;
            ASSERT_EQ(Image(Coils, Registers), wanted) << "a failed write changed the program's image";
            ASSERT_LT(failedWrites, cycles * 5) << "writes keep failing";
            Write();
        }

        // Read back: the store is emptied and refilled from the unit.
        ClearReports();
        store.Reset();
        while (!AwaitRun()) {
            ++failedReads;
            ASSERT_LT(failedReads, cycles * 5) << "reads keep failing";
            ClearReports();
            store.Reset();
        }
        ASSERT_EQ(Image(Coils, Registers), wanted) << "the unit's image differs from the program's";

        // Memory is measured once the first cycles have filled every cache and pool.
        if (cycle == std::min(cycles - 1, 10))
            residentAtStart = ResidentKiB();
    }
    const long residentAtEnd = ResidentKiB();
    Disconnect();
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    const int faults = sim->CountLines("fault: ");
    std::ostringstream summary;
    summary << cycles << " cycles, " << faults << " faults injected, " << failedWrites << " failed writes, "
            << failedReads << " failed reads; resident memory " << residentAtStart
            << " KiB after the first cycles, " << residentAtEnd << " KiB at the end";
    std::cout << "[ soak     ] " << summary.str() << std::endl;
    RecordProperty("soak", summary.str());
    EXPECT_GE(sim->CountLines("commit (123"), cycles);
    EXPECT_GT(faults, 0) << "the line was never faulty";
    EXPECT_EQ(uiThreadExchanges, 0);
    // Sanitizers keep freed memory in quarantine on purpose; their leak check stands in there.
    if (!Sanitized) {
        EXPECT_LT(residentAtEnd - residentAtStart, 4096) << summary.str();
    }
}
