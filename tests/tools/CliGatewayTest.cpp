// The command line against units behind simulated network gateways (Modbus TCP, RTU over TCP).
#include "features/History.h"
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <QTcpServer>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sstream>

namespace {

TCliRun Cli(const std::vector<std::string>& args) {
    return RunBuiltCli(args, 120000);
}

std::string Value(const std::string& path, const std::string& name) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(path.c_str()));
    return doc.select_node(("//setting[@name='" + name + "']").c_str()).node().attribute("value").value();
}

void SetValue(const std::string& path, const std::string& name, const std::string& value) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    doc.select_node(("//setting[@name='" + name + "']").c_str()).node().attribute("value") = value.c_str();
    ASSERT_TRUE(doc.save_file(path.c_str()));
}

// "tcp://127.0.0.1:40123" -> "127.0.0.1:40123".
std::string HostPort(const std::string& gateway) {
    return gateway.substr(gateway.find("//") + 2);
}

} // namespace

TEST(CliGateway, ReadsAndWritesUnitsBehindEitherKindOfGateway) {
    TTempDir dir;
    TSimProcess tcp(
        {"--listen", "tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", "1", "--slave", "2"},
        dir.Path("config"));
    TSimProcess rtu({"--listen", "rtu+tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", "3"},
                    dir.Path("config"));
    ASSERT_EQ(tcp.Port().rfind("tcp://", 0), 0u) << tcp.Errors();
    ASSERT_EQ(rtu.Port().rfind("rtu+tcp://", 0), 0u) << rtu.Errors();
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    SetValue(file, "Supply Fan Maximum Speed", "77");

    const TCliRun written = Cli({"write", tcp.Port() + "@2", file, "--timeout", "2000"});
    ASSERT_EQ(written.code, 0) << written.out << written.err;
    EXPECT_EQ(written.out.rfind("Settings written and verified (", 0), 0u) << written.out;
    const std::string back = dir.Path("back.rur");
    const TCliRun read = Cli({"read", tcp.Port() + "@2", "-o", back});
    ASSERT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(Value(back, "Supply Fan Maximum Speed"), "77");

    const TCliRun overRtu = Cli({"read", rtu.Port() + "@3", "-o", dir.Path("rtu.rur")});
    EXPECT_EQ(overRtu.code, 0) << overRtu.err;
    EXPECT_EQ(overRtu.out, "Read Z7E AHU Interface into " + dir.Path("rtu.rur") + "\n");

    // A transparent gateway passes the line's silence on: no unit, as on a serial line.
    const TCliRun silent = Cli({"read", rtu.Port() + "@4", "-o", dir.Path("none.rur"), "--timeout", "300"});
    EXPECT_EQ(silent.code, 1);
    EXPECT_EQ(silent.err, "No unit answers at address 4 behind gateway " + HostPort(rtu.Port()) +
                              " (no reply within 300 ms).\n");

    const TCliRun absent = Cli({"read", tcp.Port() + "@9", "-o", dir.Path("none.rur")});
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(absent.err, "No unit answers at address 9 behind gateway " + HostPort(tcp.Port()) +
                              " (gateway exception 11: the target device failed to respond).\n");
}

TEST(CliGateway, ScanAndCommissionGoOverOneConnectionPerGateway) {
    TTempDir dir;
    TSimProcess sim(
        {"--listen", "tcp://127.0.0.1:0", "--device", "Z7E AHU Interface", "--slave", "1", "--slave", "2"},
        dir.Path("config"));
    ASSERT_EQ(sim.Port().rfind("tcp://", 0), 0u) << sim.Errors();
    const TCliRun scan = Cli({"scan", sim.Port(), "--to", "4"});
    EXPECT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.out, "1  17  Z7E AHU Interface\n2  17  Z7E AHU Interface\n");

    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    SetValue(file, "Supply Fan Maximum Speed", "88");
    const int opened = sim.CountLines(" opened (");
    // A port number may come again in one test run: the record is counted from here.
    const size_t recorded = ReadHistory(HistoryPath(), {sim.Port(), "", ""}).Entries.size();
    const std::string report = dir.Path("report.csv");
    const TCliRun run = Cli(
        {"commission", file, sim.Port() + "@1", sim.Port() + "@2", sim.Port() + "@5", "--report", report});
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(sim.CountLines(" opened ("), opened + 1) << sim.Output();
    const std::string reportText = ReadFileText(report);
    for (const std::string row :
         {",1,17,Z7E AHU Interface,verified,", ",2,17,Z7E AHU Interface,verified,", ",5,0,,no-unit,0,"})
        EXPECT_NE(reportText.find("\n" + sim.Port() + row), std::string::npos) << reportText;

    EXPECT_EQ(ReadHistory(HistoryPath(), {sim.Port(), "", ""}).Entries.size(), recorded + 2);
    const auto one = ReadHistory(HistoryPath(), {sim.Port() + "@2", "", ""}).Entries;
    ASSERT_FALSE(one.empty());
    EXPECT_EQ(one.back().Port, sim.Port());
    EXPECT_EQ(one.back().Address, 2);
    const TCliRun history = Cli({"history", "--port", sim.Port() + "@2", "--csv"});
    EXPECT_EQ(history.code, 0) << history.err;
    EXPECT_NE(history.out.find("," + sim.Port() + ",2,"), std::string::npos) << history.out;
}

TEST(CliGateway, RefusedConnectionsAndBadTargetsAreToldApart) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string closed = "127.0.0.1:" + std::to_string(server.serverPort());
    server.close();
    const TCliRun refused = Cli({"read", "tcp://" + closed, "-o", "-"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("TCP/IP connection error: " + closed + ": Connection refused"),
              std::string::npos)
        << refused.err;
    const TCliRun scan = Cli({"scan", "rtu+tcp://" + closed});
    EXPECT_EQ(scan.code, 1);
    EXPECT_NE(scan.err.find("TCP/IP connection error: " + closed), std::string::npos) << scan.err;

    const TCliRun badPort = Cli({"read", "tcp://127.0.0.1:99999", "-o", "-"});
    EXPECT_EQ(badPort.code, 2);
    EXPECT_EQ(badPort.err, "dezadizi-cli: Not a TCP port: 99999 (use 1 to 65535)\n");
    EXPECT_EQ(Cli({"write", "tcp://127.0.0.1", "x.rur", "--timeout", "0"}).code, 2);
    EXPECT_EQ(Cli({"scan", "tcp://127.0.0.1", "--timeout", "soon"}).code, 2);
}

TEST(CliGateway, AConnectionDroppedMidWriteStopsTheRunBeforeTheCommit) {
    TTempDir dir;
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    SetValue(file, "Supply Fan Maximum Speed", "66");
    // A blank unit differs from the file in many settings: the run writes each of them.
    const QStringList unit{"--tcp", "0", "--device", "Z7E AHU Interface", "--blank", "--verbose"};

    // Where the single writes fall among a whole run's requests, the same in every run.
    std::vector<int> writes;
    {
        TSimProcess sim(unit, dir.Path("config"));
        ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
        const TCliRun run = Cli({"write", sim.Port() + "@1", file});
        ASSERT_EQ(run.code, 0) << run.out << run.err;
        ASSERT_EQ(sim.Stop(), 0);
        std::istringstream log(sim.Output());
        int request = 0;
        for (std::string line; std::getline(log, line);) {
            if (line.find(": request 01 ") == std::string::npos)
                continue;
            ++request;
            if (line.find(": request 01 05 ") != std::string::npos ||
                line.find(": request 01 06 ") != std::string::npos)
                writes.push_back(request);
        }
        ASSERT_GE(writes.size(), 4u) << sim.Output();
    }
    // The gateway drops the connection as the third write reaches it.
    const int drop = writes[2];
    TSimProcess sim(unit + QStringList{"--fault-at", "close=" + QString::number(drop)}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const TCliRun run = Cli({"write", sim.Port() + "@1", file});
    // It fails as on a pulled cable: at the write that got no reply, and sends nothing more.
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(run.err.rfind("Writing ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Failed"), std::string::npos) << run.err;
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines(" closed at request " + std::to_string(drop) + " (fault close)"), 1)
        << sim.Output();
    EXPECT_EQ(sim.CountLines(": request 01 "), drop - 1) << sim.Output();
    EXPECT_EQ(sim.CountLines("commit (123 to holding register 9999)"), 0) << sim.Output();
}
