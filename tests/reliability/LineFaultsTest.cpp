// Faults on the line, injected by the simulator or by ending it (a pulled cable): the failing
// block's text reaches the listener, the user-interface thread never waits on the line, a dead
// line does not keep a core busy, and the next connection works.
#include "LineSupport.h"
#include "SimUnit.h"

#include <QSettings>
#include <iostream>

namespace {

const char* const FaultKinds[] = {"no-reply", "bad-crc",   "wrong-slave", "exception",
                                  "garbage",  "truncated", "slow"};

// A shared core is busy with others too; a worker spinning on a dead line would use a whole one.
constexpr double IdleCpuShare = 0.5;

} // namespace

TEST_F(TLineFixture, EveryFaultDuringAReadEndsTheRunWithItsTextAndTheNextConnectionWorks) {
    Load(8, 20);
    for (const char* kind : FaultKinds) {
        SCOPED_TRACE(kind);
        {
            // The search is answered; every reply after it is spoilt. A slow one comes after both
            // tries of the 250 ms time-out and the quiet time-out between them.
            auto sim = StartSim({"--fault", QString::fromLatin1(kind) + "=1", "--fault-after", "1",
                                 "--slow-ms", "1000", "--seed", "5"});
            ASSERT_TRUE(Connect(sim->Port()));
            EXPECT_FALSE(AwaitRun());
            EXPECT_EQ(FailureText(), "Reading coils1 to 8Failed");
            EXPECT_TRUE(store.HasFailed());
            Disconnect();
        }
        auto sim = StartSim({});
        ASSERT_TRUE(Connect(sim->Port()));
        EXPECT_TRUE(AwaitRun()) << FailureText();
        EXPECT_TRUE(store.IsComplete());
        Disconnect();
    }
    EXPECT_EQ(uiThreadExchanges, 0);
}

TEST_F(TLineFixture, EveryFaultDuringTheSearchMeansNoUnitFound) {
    Load(1, 1);
    for (const char* kind : FaultKinds) {
        SCOPED_TRACE(kind);
        auto sim = StartSim({"--fault", QString::fromLatin1(kind) + "=1", "--slow-ms", "1000"});
        int32_t id = 0;
        EXPECT_FALSE(Search(sim->Port(), &id));
        EXPECT_EQ(id, -1);
    }
    EXPECT_EQ(uiThreadExchanges, 0);
}

TEST_F(TLineFixture, CablePulledDuringAReadFailsTheRunWithoutSpinningAndAFreshConnectionReads) {
    // At wire speed each 50-register block takes about 130 ms, so the run is still going when
    // the line goes.
    Load(0, 600);
    {
        auto sim = StartSim({"--wire-speed"});
        ASSERT_TRUE(Connect(sim->Port()));
        ASSERT_TRUE(WaitFor([&] { return GoodReports() >= 1; }));
        sim->Stop();
        EXPECT_FALSE(AwaitRun());
        const std::string failure = FailureText();
        EXPECT_EQ(failure.rfind("Reading Holding Registers ", 0), 0u) << failure;
        EXPECT_EQ(failure.substr(failure.size() - 6), "Failed") << failure;
        EXPECT_LT(GoodReports(), 12u);
    }
    // Still connected to the dead line: the worker idles, it does not spin.
    const double share = CpuShareWhileWaiting(1000);
    std::cout << "[ cpu      ] " << share << " of a core while connected to a dead line" << std::endl;
    EXPECT_LT(share, IdleCpuShare) << "the process used " << share << " of a core on a dead line";
    Disconnect();

    auto sim = StartSim({});
    ASSERT_TRUE(Connect(sim->Port()));
    EXPECT_TRUE(AwaitRun()) << FailureText();
    EXPECT_EQ(uiThreadExchanges, 0);
}

TEST_F(TLineFixture, CablePulledDuringAWriteKeepsTheImageAndWritingAgainAfterReconnectingCompletesTheUnit) {
    constexpr int Coils = 4;
    constexpr int Registers = 40;
    Load(Coils, Registers);
    const std::string state = dir.Path("unit.state");
    std::vector<int32_t> wanted;
    for (int i = 0; i < Coils + Registers; ++i)
        wanted.push_back(i < Coils ? (i % 2) : 1000 + i);
    // The link's own reopen attempts after the failed write, reported from the worker.
    std::atomic<int> reopened{-1};
    manager->OnReport = [&](const TWorkerReport& report) {
        if (const auto* result = std::get_if<TReopenedReport>(&report.Value))
            reopened = result->Reopened ? 1 : 0;
    };
    {
        auto sim = StartSim({"--wire-speed", "--state", QString::fromStdString(state)});
        ASSERT_TRUE(Connect(sim->Port()));
        ASSERT_TRUE(AwaitRun()) << FailureText();
        SetImage(wanted, Coils, Registers);
        Write();
        ASSERT_TRUE(WaitFor([&] { return GoodReports() >= 10; }));
        sim->Stop();
        EXPECT_FALSE(AwaitRun());
        const std::string failure = FailureText();
        EXPECT_EQ(failure.rfind("Writing Holding Registers ", 0), 0u) << failure;
        EXPECT_EQ(Image(Coils, Registers), wanted) << "a failed write changed the program's image";
        // The link's own reopen attempts end. (Their result is not asserted: a freed
        // pseudo-terminal's number may be taken at once by another test's simulator.)
        ASSERT_TRUE(WaitFor([&] { return reopened != -1; }));
        const double share = CpuShareWhileWaiting(1000);
        std::cout << "[ cpu      ] " << share << " of a core while connected to a dead line" << std::endl;
        EXPECT_LT(share, IdleCpuShare) << "the process used " << share << " of a core on a dead line";
    }
    // The unit has part of the new configuration. A new line to it (the same unit: its state
    // file), and the same image written again, completes it.
    auto sim = StartSim({"--state", QString::fromStdString(state)});
    manager->MapPort(1, sim->Port());
    // The way back to the port is the link's own: a write that fails on the closed line makes
    // the worker reopen the port, under the name now mapped to it.
    reopened = -1;
    Write();
    EXPECT_FALSE(AwaitRun());
    ASSERT_TRUE(WaitFor([&] { return reopened != -1; }));
    ASSERT_EQ(reopened, 1) << FailureText();
    Write();
    EXPECT_TRUE(AwaitRun()) << FailureText();
    EXPECT_EQ(Image(Coils, Registers), wanted);
    Disconnect();
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 1) << sim->Output();

    TSimUnit unit;
    ASSERT_TRUE(unit.LoadState(state));
    for (int i = 0; i < Coils; ++i)
        EXPECT_EQ(unit.Coil(i) ? 1 : 0, wanted[static_cast<size_t>(i)]) << "coil " << i + 1;
    for (int i = 0; i < Registers; ++i)
        EXPECT_EQ(unit.HoldingRegister(FirstRegister - 1 + i), wanted[static_cast<size_t>(Coils + i)])
            << "register " << FirstRegister + i;
    EXPECT_EQ(uiThreadExchanges, 0);
}

TEST_F(TLineFixture, ASimulatorRestartedUnderTheSameCommPortIsReachedByReopening) {
    Load(2, 10);
    auto sim = StartSim({"--port", "COM7"});
    ASSERT_TRUE(Connect("COM7"));
    ASSERT_TRUE(AwaitRun()) << FailureText();

    std::atomic<int> reopened{-1};
    manager->OnReport = [&](const TWorkerReport& report) {
        if (const auto* result = std::get_if<TReopenedReport>(&report.Value))
            reopened = result->Reopened ? 1 : 0;
    };
    sim->Stop();
    Write();
    EXPECT_FALSE(AwaitRun());
    EXPECT_EQ(FailureText(), "Writing coils1 to 1Failed");
    ASSERT_TRUE(WaitFor([&] { return reopened != -1; }));

    // The simulator comes back on a new pseudo-terminal, published under the same name: a
    // reopen finds it there.
    sim = StartSim({"--port", "COM7"});
    reopened = -1;
    Write();
    EXPECT_FALSE(AwaitRun());
    ASSERT_TRUE(WaitFor([&] { return reopened != -1; }));
    ASSERT_EQ(reopened, 1) << FailureText();
    Write();
    EXPECT_TRUE(AwaitRun()) << FailureText();
    ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 1) << sim->Output();
    EXPECT_EQ(uiThreadExchanges, 0);
}

// A unit that answers one request after the master's time-out, on a line paced as a real one: the
// late reply, and the reply to the repetition that follows it, must not answer later requests.
TEST_F(TLineFixture, ALateReplyIsNeverTakenForALaterBlocksReply) {
    constexpr int Registers = 200; // four blocks of equal length: a shifted one would fit
    Load(0, Registers);
    const std::string state = dir.Path("unit.state");
    {
        TSimUnit unit;
        for (int i = 0; i < Registers; ++i)
            unit.SetHoldingRegister(FirstRegister - 1 + i, static_cast<uint16_t>(3000 + i));
        ASSERT_TRUE(unit.SaveState(state));
    }
    std::vector<int32_t> content;
    for (int i = 0; i < Registers; ++i)
        content.push_back(3000 + i);

    // Request 1 is the search; request 3 reads the second block.
    auto sim = StartSim({"--wire-speed", "--state", QString::fromStdString(state), "--fault-at", "slow=3",
                         "--slow-ms", "400"});
    ASSERT_TRUE(Connect(sim->Port()));
    EXPECT_TRUE(AwaitRun()) << FailureText();
    EXPECT_EQ(Image(0, Registers), content);
    Disconnect();
    EXPECT_EQ(sim->CountLines("fault: slow (request 3)"), 1) << sim->Output();
}

TEST_F(TLineFixture, ALateEchoIsNeverTakenForALaterWritesEcho) {
    constexpr int Registers = 20;
    Load(0, Registers);
    const std::string state = dir.Path("unit.state");
    auto sim = StartSim({"--wire-speed", "--state", QString::fromStdString(state), "--fault-at", "slow=8",
                         "--slow-ms", "400"});
    ASSERT_TRUE(Connect(sim->Port()));
    ASSERT_TRUE(AwaitRun()) << FailureText();
    std::vector<int32_t> wanted;
    for (int i = 0; i < Registers; ++i)
        wanted.push_back(700 + i);
    SetImage(wanted, 0, Registers);
    // Requests 1 and 2 are the search and the read; the write's sixth request is answered late.
    Write();
    EXPECT_TRUE(AwaitRun()) << FailureText();
    Disconnect();
    ASSERT_EQ(sim->Stop(), 0);
    EXPECT_EQ(sim->CountLines("fault: slow (request 8)"), 1) << sim->Output();
    EXPECT_EQ(sim->CountLines("commit (123"), 1) << sim->Output();
    TSimUnit unit;
    ASSERT_TRUE(unit.LoadState(state));
    for (int i = 0; i < Registers; ++i)
        EXPECT_EQ(unit.HoldingRegister(FirstRegister - 1 + i), wanted[static_cast<size_t>(i)])
            << "register " << FirstRegister + i;
}
