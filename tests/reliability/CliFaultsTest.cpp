// What dezadizi-cli tells the user when the line fails, and that writing again after a failed
// write completes the unit's configuration.
#include "LineSupport.h"
#include "features/History.h"
#include "sim/SimProcess.h"

#include <QProcess>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <pugixml.hpp>

namespace {

TCliRun RunCli(QStringList arguments, const std::string& definitions) {
    arguments << "-d" << QString::fromStdString(definitions);
    return RunCliProcess(arguments);
}

// name=value of every setting in a settings file.
std::vector<std::string> Values(const std::string& path) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_file(path.c_str())) << path;
    std::vector<std::string> values;
    for (pugi::xml_node group : document.document_element().child("device").children("group")) {
        for (pugi::xml_node setting : group.children("setting"))
            values.push_back(std::string(setting.attribute("name").value()) + "=" +
                             setting.attribute("value").value());
    }
    return values;
}

struct CliFaults : ::testing::Test {
    TTempDir dir;
    std::string definitions = dir.Write("Devices.xml", LineDefinitions(4, 10));
    std::string configHome = std::getenv("XDG_CONFIG_HOME") != nullptr ? std::getenv("XDG_CONFIG_HOME") : "";

    std::unique_ptr<TSimProcess> StartSim(QStringList arguments) {
        arguments << "--device-id"
                  << "17";
        auto sim = std::make_unique<TSimProcess>(arguments, configHome);
        EXPECT_FALSE(sim->Port().empty()) << sim->Errors();
        return sim;
    }

    // A settings file of values no unit holds at first: every other coil set, registers 500 up.
    std::string WantedFile() {
        const std::string wanted = dir.Path("wanted.rur");
        EXPECT_EQ(RunCli({"defaults", "Line Unit", "-o", QString::fromStdString(wanted)}, definitions).code,
                  0);
        pugi::xml_document document;
        EXPECT_TRUE(document.load_file(wanted.c_str()));
        int n = 0;
        for (pugi::xml_node group : document.document_element().child("device").children("group")) {
            for (pugi::xml_node setting : group.children("setting")) {
                const bool coil = std::string(setting.attribute("name").value()).rfind("C", 0) == 0;
                setting.attribute("value") = coil ? n % 2 : 500 + n;
                ++n;
            }
        }
        EXPECT_TRUE(document.save_file(wanted.c_str()));
        return wanted;
    }
};

} // namespace

TEST_F(CliFaults, EveryFaultDuringTheReadIsReportedWithTheFailingBlock) {
    for (const char* kind :
         {"no-reply", "bad-crc", "wrong-slave", "exception", "garbage", "truncated", "slow"}) {
        SCOPED_TRACE(kind);
        // A slow reply comes after both tries of the tool's 1000 ms time-out and the quiet
        // time-out between them; one that came during the second try would answer it.
        auto sim = StartSim(
            {"--fault", QString::fromLatin1(kind) + "=1", "--fault-after", "1", "--slow-ms", "4000"});
        const TCliRun run = RunCli(
            {"read", QString::fromStdString(sim->Port()), "-o", QString::fromStdString(dir.Path("out.rur"))},
            definitions);
        EXPECT_EQ(run.code, 1) << run.out << run.err;
        EXPECT_EQ(run.err, "Reading coils1 to 4Failed\n");
    }
}

TEST_F(CliFaults, NoAnswerToTheSearchIsAFailedConnection) {
    auto sim = StartSim({"--fault", "exception=1"});
    const TCliRun run = RunCli(
        {"read", QString::fromStdString(sim->Port()), "-o", QString::fromStdString(dir.Path("out.rur"))},
        definitions);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "Failed to connect, please check connections and settings\n");
}

TEST_F(CliFaults, AWriteCutShortIsCompletedByWritingAgain) {
    const std::string state = dir.Path("unit.state");
    const std::string wanted = WantedFile();
    {
        // The search and the two read blocks are answered; the sixth write request gets an
        // exception reply, which is not repeated.
        auto sim = StartSim(
            {"--state", QString::fromStdString(state), "--fault", "exception=1", "--fault-after", "8"});
        const TCliRun run = RunCli(
            {"write", QString::fromStdString(sim->Port()), QString::fromStdString(wanted)}, definitions);
        EXPECT_EQ(run.code, 1) << run.out;
        EXPECT_EQ(run.err, "Writing Holding Registers 104 to 104Failed\n");
        ASSERT_EQ(sim->Stop(), 0) << sim->Errors();
        EXPECT_EQ(sim->CountLines("commit (123"), 0) << "a write run cut short must not be committed";
    }
    auto sim = StartSim({"--state", QString::fromStdString(state)});
    const TCliRun again =
        RunCli({"write", QString::fromStdString(sim->Port()), QString::fromStdString(wanted)}, definitions);
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, "Settings written and verified (6 settings).\n")
        << "only what the unit lacks is sent";
    const std::string back = dir.Path("back.rur");
    const TCliRun read = RunCli(
        {"read", QString::fromStdString(sim->Port()), "-o", QString::fromStdString(back)}, definitions);
    ASSERT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(Values(back), Values(wanted));
}

// SIGTERM stops a write as Ctrl-C does: the exchange on the wire ends, no commit, the record
// written; and a simulator whose terminal closes (SIGHUP) ends as cleanly as on SIGTERM.
TEST_F(CliFaults, SigtermStopsAWriteAsCtrlCDoesAndSighupEndsTheSimulator) {
    const std::string wanted = WantedFile();
    // Each reply comes 300 ms late, so the write is long enough to stop midway.
    auto sim = StartSim({"--verbose", "--fault", "slow=1", "--slow-ms", "300"});
    const std::string port = sim->Port();
    const size_t recordedBefore = ReadHistory(HistoryPath(), {port, "", ""}).Entries.size();
    QProcess process;
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  {"write", QString::fromStdString(port), QString::fromStdString(wanted), "-d",
                   QString::fromStdString(definitions)});
    ASSERT_TRUE(process.waitForStarted());
    const auto writes = [&] { return sim->CountLines("request 01 05") + sim->CountLines("request 01 06"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return writes() >= 1; }, 30000)) << "the write did not begin";
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "the tool died of the signal";
    EXPECT_EQ(process.exitCode(), 143);
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_NE(err.find("(no commit). Write again to finish.\n"), std::string::npos) << err;

    const std::vector<THistoryEntry> entries = ReadHistory(HistoryPath(), {port, "", ""}).Entries;
    ASSERT_EQ(entries.size(), recordedBefore + 1) << "the stopped write is not recorded";
    EXPECT_EQ(entries.back().Result, "stopped");
    EXPECT_TRUE(std::filesystem::exists(entries.back().Backup)) << entries.back().Backup;

    EXPECT_EQ(sim->Stop(SIGHUP), 0) << sim->Errors();
    EXPECT_EQ(sim->CountLines("commit (123"), 0) << "a stopped write must not be committed";
    EXPECT_EQ(sim->CountLines("dezadizi-sim stopped after "), 1) << sim->Output();
}
