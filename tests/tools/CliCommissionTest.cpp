// Commissioning and scanning against simulated lines, several units on one line.
#include "base/Csv.h"
#include "features/History.h"
#include "modbus/TestPty.h"
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTest>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <modbus/modbus.h>
#include <pugixml.hpp>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>

namespace {

using CliResult = TCliRun;

CliResult Cli(const std::vector<std::string>& args) {
    return RunBuiltCli(args, 240000);
}

pugi::xml_node FileSetting(pugi::xml_document& doc, const std::string& name) {
    return doc.select_node(("//setting[@name='" + name + "']").c_str()).node();
}

// Sets values of the first settings of those names in a settings file (`text` for the unit name).
void EditFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& values) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    for (const auto& [name, value] : values) {
        pugi::xml_node setting = FileSetting(doc, name);
        ASSERT_TRUE(setting) << name;
        setting.attribute(name == "Unit Name" ? "text" : "value") = value.c_str();
    }
    ASSERT_TRUE(doc.save_file(path.c_str()));
}

std::string FileValue(const std::string& path, const std::string& name) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(path.c_str()));
    return FileSetting(doc, name).attribute(name == "Unit Name" ? "text" : "value").value();
}

// Write requests (coils, registers and the commit) one slave of a line has logged.
int Writes(const TSimProcess& sim, int slave) {
    const std::string prefix = "slave " + std::to_string(slave) + ": request 0" + std::to_string(slave);
    return sim.CountLines(prefix + " 05") + sim.CountLines(prefix + " 06");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Processes whose command line holds `text`.
std::vector<pid_t> ProcessesNaming(const std::string& text) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string command = ReadFileText(entry.path().string() + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (command.find(text) != std::string::npos)
            found.push_back(static_cast<pid_t>(std::atoi(entry.path().filename().c_str())));
    }
    return found;
}

// The tool with `input` on its standard input and user settings and data folders of its own.
CliResult CliIn(const std::vector<std::string>& args, const std::string& input, const std::string& config,
                const std::string& data) {
    QStringList arguments;
    for (const auto& arg : args)
        arguments << QString::fromStdString(arg);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    env.insert("XDG_DATA_HOME", QString::fromStdString(data));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  arguments << "-d" << QString::fromStdString(SourcePath("data/Devices.xml")));
    process.write(QByteArray::fromStdString(input));
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

} // namespace

TEST(CliCommission, ArgumentsThatContradictAreRefusedBeforeAnyRequest) {
    TTempDir dir;
    TSimProcess line({"--device", "Z7E AHU Interface", "--verbose", "--slave", "1", "--slave", "2"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    const std::string saved = ReadFileText(file);
    const std::string link = dir.Path("line-a");
    std::filesystem::create_symlink(line.Port(), link);
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string own = dir.Path("own.csv");
    {
        std::ofstream csv(own);
        csv << "target,Unit Settings/Unit Name\n" << line.Port() << "@2,A\n" << link << "@2,B\n";
    }
    const auto refused = [&](std::vector<std::string> args, const std::string& says) {
        args.insert(args.begin(), {"commission", file});
        const CliResult run = Cli(args);
        EXPECT_EQ(run.code, 2) << run.out << run.err;
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    };
    // The file's check box writes the register of the drop-down to keep.
    refused({line.Port() + "@2", "--keep", "Unit Settings/Night Setback Mode"},
            "\"Unit Settings/Night Setback Mode\" shares its register with \"Unit Settings/Night Setback\"");
    // One unit by two names, among the targets or the rows.
    refused({line.Port(), link + "@1"}, line.Port() + " and " + link + "@1 are one unit");
    refused({line.Port() + "@2", "--per-unit", own}, line.Port() + "@2 and " + link + "@2 are one unit");
    // A report that would replace an input, or is no file.
    refused({line.Port() + "@2", "--report", file}, "is the settings file");
    refused({line.Port() + "@2", "--report", fifo}, "is not a regular file");
    EXPECT_EQ(ReadFileText(file), saved);
    EXPECT_EQ(line.CountLines("slave 1: request") + line.CountLines("slave 2: request"), 0) << line.Output();
}

TEST(CliCommission, OneLineNamedThreeWaysIsOneRunAndUnitValuesAreCheckedAsAFilesAre) {
    TTempDir dir;
    const std::string link = dir.Path("line-a");
    TSimProcess line({"--device", "Z7E AHU Interface", "--verbose", "--port", "COM9", "--link",
                      QString::fromStdString(link), "--slave", "1", "--slave", "2", "--slave", "3"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    // The backups folder is a file: the unit is written all the same, and the report says so.
    std::filesystem::create_directories(dir.Path("data/dezadizi"));
    std::ofstream(dir.Path("data/dezadizi/backups")) << "not a folder";
    // Rows as a spreadsheet saves them, read from a pipe.
    const std::string rows = "\xEF\xBB\xBFtarget,Unit Settings/Unit Name,Unit Settings/Service Interval\r\n" +
                             link + "@1,ABCDEFGHIJKLMNOPQRSTUVWXYZ,\r\nCOM9@3,,4294967295\r\n";
    const std::string report = dir.Path("report.csv");
    std::vector<std::string> args{"commission",       file,       link + "@1",
                                  line.Port() + "@2", "COM9@3",   "--per-unit",
                                  "/dev/stdin",       "--report", report};
    const CliResult run = CliIn(args, rows, dir.Path("config"), dir.Path("data"));
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(run.err.find("already open"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: " + link + "@1: Setting 'Unit Name': text cut to the 16 characters"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("warning: " + link + "@1: cannot save the unit's settings"), std::string::npos)
        << run.err;
    const auto reported = ParseCsv(ReadFileText(report));
    ASSERT_EQ(reported.size(), 4u);
    EXPECT_EQ(reported[1], (std::vector<std::string>{link, "1", "17", "Z7E AHU Interface", "verified", "1",
                                                     reported[1][6], reported[1][7], "", reported[1][9]}));
    EXPECT_NE(reported[1][9].find("; " + link + "@1: cannot save the unit's settings before writing"),
              std::string::npos)
        << reported[1][9];
    EXPECT_EQ(reported[2][4], "unchanged");
    EXPECT_EQ(reported[3][4], "failed");
    EXPECT_NE(reported[3][7].find("outside its setting's limits"), std::string::npos) << reported[3][7];
    EXPECT_NE(reported[3][7].find("--allow-out-of-range loads them anyway."), std::string::npos);
    EXPECT_EQ(Writes(line, 3), 0);

    // With the consent a settings file needs, the value goes in.
    args.push_back("--allow-out-of-range");
    const CliResult allowed = CliIn(args, rows, dir.Path("config"), dir.Path("data"));
    EXPECT_EQ(allowed.code, 0) << allowed.out << allowed.err;
    EXPECT_NE(allowed.out.find("COM9@3  Z7E AHU Interface  verified  1 settings changed"), std::string::npos)
        << allowed.out;
}

TEST(CliCommission, AReadThatFailsStillReportsTheUnitThatAnswered) {
    TTempDir dir;
    // Found by its one answer, then silent.
    TSimProcess line({"--device", "Z7E AHU Interface", "--fault-after", "1", "--fault", "no-reply=1"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    const std::string report = dir.Path("report.csv");
    const CliResult run = Cli({"commission", file, line.Port(), "--report", report});
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    const auto rows = Lines(ReadFileText(report));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].rfind(line.Port() + ",1,17,Z7E AHU Interface,failed,0,", 0), 0u) << rows[1];
}

TEST(CliCommission, AMixedSiteGivesEachUnitItsResultTheExitStatusAndTheReport) {
    TTempDir dir;
    // One line: a unit already right (1), one to change (2), one of another type (3); nobody at 7.
    TSimProcess line({"--device", "Z7E AHU Interface", "--verbose", "--slave", "1", "--slave", "2", "--slave",
                      "3", "--device", "Z7E Fan Coil Interface"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    // A line of its own for a unit that keeps at most 50 in the maximum fan speed's register.
    TSimProcess clamping({"--device", "Z7E AHU Interface", "--clamp", "117:50"}, dir.Path("config"));
    ASSERT_FALSE(clamping.Port().empty()) << clamping.Errors();

    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    EditFile(file, {{"Supply Fan Minimum Speed", "25"}, {"Supply Fan Maximum Speed", "95"}});
    ASSERT_EQ(Cli({"write", line.Port() + "@1", file}).code, 0);
    const int writesBefore = Writes(line, 1);
    ASSERT_GT(writesBefore, 0) << line.Output();

    // The write record of each unit, before and after (ports may be reused within one process).
    const auto recorded = [](const std::string& unit) {
        return ReadHistory(HistoryPath(), {unit, "", ""}).Entries;
    };
    const size_t recordedBefore[3] = {recorded(line.Port() + "@1").size(),
                                      recorded(line.Port() + "@2").size(), recorded(clamping.Port()).size()};

    const std::string report = dir.Path("report.csv");
    const std::string trace = dir.Path("trace.txt");
    std::ofstream(trace) << "an earlier run's line\n";
    const CliResult run = Cli({"commission", file, line.Port() + "@1", line.Port() + "@2", line.Port() + "@3",
                               line.Port() + "@7", clamping.Port(), "--report", report, "--trace", trace});
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    const auto lineOf = [&](const std::string& target) {
        for (const std::string& l : lines) {
            if (l.rfind(target + "  ", 0) == 0)
                return l;
        }
        return std::string("(none for " + target + ")");
    };
    EXPECT_EQ(lineOf(line.Port() + "@1").find("  Z7E AHU Interface  unchanged  0 settings changed  "),
              line.Port().size() + 2)
        << run.out;
    EXPECT_NE(lineOf(line.Port() + "@2").find("  Z7E AHU Interface  verified  2 settings changed  "),
              std::string::npos)
        << run.out;
    EXPECT_NE(lineOf(line.Port() + "@3").find("  Z7E Fan Coil Interface  wrong-device: "), std::string::npos)
        << run.out;
    EXPECT_EQ(lineOf(line.Port() + "@7"), line.Port() +
                                              "@7  no-unit: Failed to connect, please check connections "
                                              "and settings");
    EXPECT_NE(lineOf(clamping.Port() + "@1")
                  .find("mismatch: Unit Settings / Supply Fan Maximum Speed: sent 95 %, unit holds 50 %"),
              std::string::npos)
        << run.out;

    // The report lists the targets in the order given, with the outcome words.
    const auto rows = Lines(ReadFileText(report));
    ASSERT_EQ(rows.size(), 6u) << ReadFileText(report);
    EXPECT_EQ(rows[0], "port,address,device_id,device_type,result,changed,seconds,message,backup,warnings\r");
    const auto starts = [&](size_t row, const std::string& prefix) {
        EXPECT_EQ(rows[row].rfind(prefix, 0), 0u) << rows[row];
    };
    starts(1, line.Port() + ",1,17,Z7E AHU Interface,unchanged,0,");
    starts(2, line.Port() + ",2,17,Z7E AHU Interface,verified,2,");
    starts(3, line.Port() + ",3,18,Z7E Fan Coil Interface,wrong-device,0,");
    starts(4, line.Port() + ",7,0,,no-unit,0,");
    starts(5, clamping.Port() + ",1,17,Z7E AHU Interface,mismatch,");

    // Every unit that was sent anything has one entry in the record, in the report's words;
    // the unchanged unit (address 1) and those not written have none.
    EXPECT_EQ(recorded(line.Port() + "@1").size(), recordedBefore[0]);
    const auto changed = recorded(line.Port() + "@2");
    ASSERT_EQ(changed.size(), recordedBefore[1] + 1);
    EXPECT_EQ(changed.back().Result, "verified");
    EXPECT_EQ(changed.back().Changes.size(), 2u);
    const auto clamped = recorded(clamping.Port());
    ASSERT_EQ(clamped.size(), recordedBefore[2] + 1);
    EXPECT_EQ(clamped.back().Result, "mismatch");

    // Each unit got only its own requests: the right unit and the other type none, the changed
    // unit its two registers and the commit.
    EXPECT_EQ(Writes(line, 1), writesBefore);
    EXPECT_EQ(Writes(line, 2), 3);
    EXPECT_EQ(Writes(line, 3), 0);
    EXPECT_EQ(line.CountLines("slave 2: commit (123"), 1);

    // One trace of both lines' children, started afresh: every line whole and naming its target,
    // the changed unit's writes as many as it logged.
    std::map<std::string, int> frames;
    std::map<std::string, int> writes;
    static const std::regex traced(R"(^\d+ us (\S+) (sent|received|no reply) +[0-9a-f ]*\| (.*)$)");
    for (const std::string& l : Lines(ReadFileText(trace))) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(l, match, traced)) << l;
        ++frames[match[1]];
        writes[match[1]] += match[2] == "sent" && match[3].str().find(", Write Single ") != std::string::npos;
    }
    EXPECT_EQ(frames.size(), 5u);
    EXPECT_GT(frames[line.Port() + "@7"], 0); // its unanswered requests
    EXPECT_EQ(writes[line.Port() + "@1"], 0);
    EXPECT_EQ(writes[line.Port() + "@2"], 3);
    EXPECT_EQ(writes[line.Port() + "@3"], 0);

    // Once the clamping unit is left out, the rest is only verified or unchanged: exit 0.
    const CliResult again = Cli({"commission", file, line.Port() + "@1", line.Port() + "@2"});
    EXPECT_EQ(again.code, 0) << again.out << again.err;
}

TEST(CliCommission, KeptSettingsKeepEachUnitsValueAndPerUnitValuesGoToTheirUnitOnly) {
    TTempDir dir;
    TSimProcess line({"--device", "Z7E AHU Interface", "--verbose", "--slave", "4", "--slave", "9"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    const std::string names = dir.Path("names.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", names}).code, 0);
    EditFile(names, {{"Unit Name", "North"}});
    ASSERT_EQ(Cli({"write", line.Port() + "@4", names}).code, 0);
    EditFile(names, {{"Unit Name", "South"}});
    ASSERT_EQ(Cli({"write", line.Port() + "@9", names}).code, 0);

    const std::string site = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", site}).code, 0);
    EditFile(site, {{"Unit Name", "Site"}, {"Supply Fan Minimum Speed", "25"}});
    const std::string own = dir.Path("own.csv");
    {
        std::ofstream csv(own);
        csv << "target,Unit Settings/Supply Fan Minimum Speed\n" << line.Port() << "@9,30 %\n";
    }
    // A dry run reads and tells, and sends nothing.
    const int writes = Writes(line, 4) + Writes(line, 9);
    const CliResult dry = Cli({"commission", site, line.Port() + "@4", line.Port() + "@9", "--keep",
                               "Unit Settings/Unit Name", "--per-unit", own, "--dry-run"});
    EXPECT_EQ(dry.code, 0) << dry.out << dry.err;
    EXPECT_NE(dry.out.find("@4  Z7E AHU Interface  would-change  1 settings changed  "), std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("@9  Z7E AHU Interface  would-change  1 settings changed  "), std::string::npos)
        << dry.out;
    EXPECT_EQ(Writes(line, 4) + Writes(line, 9), writes);

    const CliResult run = Cli({"commission", site, line.Port() + "@4", line.Port() + "@9", "--keep",
                               "Unit Settings/Unit Name", "--per-unit", own});
    ASSERT_EQ(run.code, 0) << run.out << run.err;

    const std::string four = dir.Path("four.rur");
    const std::string nine = dir.Path("nine.rur");
    ASSERT_EQ(Cli({"read", line.Port() + "@4", "-o", four}).code, 0);
    ASSERT_EQ(Cli({"read", line.Port() + "@9", "-o", nine}).code, 0);
    EXPECT_EQ(FileValue(four, "Unit Name"), "North");
    EXPECT_EQ(FileValue(nine, "Unit Name"), "South");
    EXPECT_EQ(FileValue(four, "Supply Fan Minimum Speed"), "25");
    EXPECT_EQ(FileValue(nine, "Supply Fan Minimum Speed"), "30");

    // A name to keep that the device type lacks, and a bad address, are usage errors.
    EXPECT_EQ(Cli({"commission", site, line.Port() + "@4", "--keep", "Unit Settings/No Such"}).code, 2);
    const CliResult bad = Cli({"commission", site, line.Port() + "@248"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err, "dezadizi-cli: Not a slave address: 248 (use 1 to 247)\n");
}

// Ctrl-C and SIGTERM stop alike; SIGTERM's status tells which came.
TEST(CliCommission, SigtermStopsEveryPortWithoutACommitReportsAndExits143) {
    TTempDir dir;
    // Blank units at the line's pace: a write of every setting takes about a minute. The second
    // line has a unit the stop comes before.
    TSimProcess first({"--device", "Z7E AHU Interface", "--blank", "--wire-speed", "--verbose"},
                      dir.Path("config"));
    TSimProcess second({"--device", "Z7E AHU Interface", "--blank", "--wire-speed", "--verbose", "--slave",
                        "1", "--slave", "2"},
                       dir.Path("config"));
    ASSERT_FALSE(first.Port().empty()) << first.Errors();
    ASSERT_FALSE(second.Port().empty()) << second.Errors();
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    const std::string report = dir.Path("report.csv");

    QProcess process;
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  {"commission", QString::fromStdString(file), QString::fromStdString(first.Port()),
                   QString::fromStdString(second.Port() + "@1"), QString::fromStdString(second.Port() + "@2"),
                   "--report", QString::fromStdString(report), "-d",
                   QString::fromStdString(SourcePath("data/Devices.xml"))});
    ASSERT_TRUE(process.waitForStarted());
    const auto writes = [](const TSimProcess& sim) { return sim.CountLines("request 01 06"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return writes(first) >= 5 && writes(second) >= 5; }, 120000))
        << "the write did not begin";
    // Only the parent is told; it passes the stop on to each port's run.
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(120000));
    const std::vector<pid_t> left = ProcessesNaming(file);
    for (const pid_t pid : left)
        ::kill(pid, SIGKILL);
    EXPECT_TRUE(left.empty()) << "a port's run was left running";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "the parent died of the signal";
    EXPECT_EQ(process.exitCode(), 143);
    const auto lines = Lines(process.readAllStandardOutput().toStdString());
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string& l : lines) {
        const bool untried = l.rfind(second.Port() + "@2", 0) == 0;
        EXPECT_NE(l.find(untried ? "  stopped: Stopped before this unit was reached."
                                 : "  stopped: Write stopped: "),
                  std::string::npos)
            << l;
    }
    EXPECT_EQ(Lines(ReadFileText(report)).size(), 4u) << ReadFileText(report);
    EXPECT_EQ(first.CountLines("commit (123") + second.CountLines("commit (123"), 0);
    EXPECT_EQ(second.CountLines("slave 2: request"), 0) << "a unit was written after the stop";
}

TEST(CliCommission, APortsRunWhoseParentIsKilledStopsWithoutACommit) {
    TTempDir dir;
    TSimProcess line({"--device", "Z7E AHU Interface", "--blank", "--wire-speed", "--verbose"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    QProcess process;
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  {"commission", QString::fromStdString(file), QString::fromStdString(line.Port()), "-d",
                   QString::fromStdString(SourcePath("data/Devices.xml"))});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.CountLines("request 01 06") >= 5; }, 120000))
        << "the write did not begin";
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    ASSERT_TRUE(process.waitForFinished(60000));
    // The port's run ends once it notices: a stop ends the exchange under way.
    (void)QTest::qWaitFor([&] { return ProcessesNaming(file).empty(); }, 60000);
    const std::vector<pid_t> left = ProcessesNaming(file);
    for (const pid_t pid : left)
        ::kill(pid, SIGKILL);
    EXPECT_TRUE(left.empty()) << "the port's run went on alone";
    EXPECT_EQ(line.CountLines("commit (123"), 0);
}

TEST(CliScan, FindsExactlyTheUnitsOnTheLineAndCreditsNoLateReply) {
    TTempDir dir;
    TSimProcess line({"--device", "Z7E AHU Interface", "--slave", "2", "--slave", "5", "--slave", "9",
                      "--device-id", "99"},
                     dir.Path("config"));
    ASSERT_FALSE(line.Port().empty()) << line.Errors();
    const CliResult scan = Cli({"scan", line.Port(), "--from", "1", "--to", "12"});
    EXPECT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.out, "2  17  Z7E AHU Interface\n5  17  Z7E AHU Interface\n9  99  unknown device id 99\n");

    // A unit that answers only after the ordinary reply time-out is not found, and its answer,
    // which comes in a later address's wait, is taken for no other address.
    TSimProcess late({"--device", "Z7E AHU Interface", "--slave", "3", "--fault", "slow=1", "--slow-ms",
                      "400", "--verbose"},
                     dir.Path("config"));
    ASSERT_FALSE(late.Port().empty()) << late.Errors();
    const CliResult slow = Cli({"scan", late.Port(), "--from", "1", "--to", "6", "--timeout", "200"});
    EXPECT_EQ(slow.code, 0) << slow.err;
    EXPECT_EQ(slow.out, "");
    EXPECT_EQ(late.CountLines("reply 03 04"), 1) << late.Output();

    EXPECT_EQ(Cli({"scan", line.Port(), "--from", "0"}).code, 2);
    EXPECT_EQ(Cli({"scan", line.Port(), "--from", "9", "--to", "3"}).code, 2);
    const CliResult wait = Cli({"scan", line.Port(), "--wait", "9"});
    EXPECT_EQ(wait.code, 2);
    EXPECT_NE(wait.err.find("wait 10 to 10000 ms"), std::string::npos) << wait.err;
}

TEST(CliScan, FindsUnitsThatAnswerSlowlyOrOnceLate) {
    TTempDir dir;
    // Every reply 70 ms after the request; or only the first 120 ms late, which is asked again.
    for (const auto& [fault, requests] :
         std::vector<std::pair<QStringList, int>>{{{"--fault", "slow=1", "--slow-ms", "70"}, 1},
                                                  {{"--fault-at", "slow=1", "--slow-ms", "120"}, 2}}) {
        TSimProcess sim(QStringList{"--device", "Z7E AHU Interface", "--slave", "3", "--slave", "6",
                                    "--wire-speed", "--verbose"} +
                            fault,
                        dir.Path("config"));
        ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
        const CliResult scan = Cli({"scan", sim.Port(), "--from", "1", "--to", "7"});
        EXPECT_EQ(scan.out, "3  17  Z7E AHU Interface\n6  17  Z7E AHU Interface\n") << scan.err;
        EXPECT_EQ(sim.CountLines("slave 6: request 06 04"), requests) << sim.Output();
    }
}

// A libmodbus unit takes the frame after a request to another address for that address's
// reply and skips it: right behind a silent address it would skip its own request. Alike on a
// serial line and behind a gateway that passes RTU frames on as they are.
TEST(CliScan, FindsALibmodbusUnitRightBehindASilentAddress) {
    modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 0, 0, 10);
    ASSERT_NE(map, nullptr);
    map->tab_input_registers[3] = 17;
    modbus_t* unit = modbus_new_rtu("/dev/ptmx", 9600, 'N', 8, 1);
    ASSERT_NE(unit, nullptr);
    modbus_set_slave(unit, 2);
    modbus_set_indication_timeout(unit, 0, 20000);
    TTestPty line;
    modbus_set_socket(unit, line.master);
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread server([&] {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop) {
            const int length = modbus_receive(unit, query);
            if (length > 0 && modbus_reply(unit, query, length, map) > 0)
                ++answered;
        }
    });
    // A gateway that passes the bytes of each connection to the same line and back, as they are.
    const int gateway = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(gateway, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(gateway, 4), 0);
    ASSERT_EQ(::getsockname(gateway, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int lineEnd = ::open(line.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    ::tcgetattr(lineEnd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(lineEnd, TCSANOW, &raw);
    std::thread relay([&] {
        for (int connection = -1; !stop;) {
            // The line is the serial scan's while no connection is open.
            pollfd fds[3] = {
                {gateway, POLLIN, 0}, {connection < 0 ? -1 : lineEnd, POLLIN, 0}, {connection, POLLIN, 0}};
            if (::poll(fds, 3, 20) <= 0)
                continue;
            uint8_t bytes[512];
            if (fds[0].revents != 0) {
                ::close(connection);
                connection = ::accept4(gateway, nullptr, nullptr, SOCK_CLOEXEC);
            }
            for (const auto& [from, to] : {std::pair{fds[1], connection}, std::pair{fds[2], lineEnd}}) {
                const ssize_t n = from.revents != 0 ? ::read(from.fd, bytes, sizeof bytes) : 0;
                if (n > 0 && to >= 0)
                    EXPECT_EQ(::write(to, bytes, static_cast<size_t>(n)), n);
                else if (n <= 0 && from.revents != 0 && from.fd == connection)
                    connection = (::close(connection), -1);
            }
        }
    });
    for (const std::string& port :
         {line.path, "rtu+tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port))}) {
        answered = 0;
        TTempDir dir;
        const CliResult scan = Cli({"scan", port, "--from", "1", "--to", "3", "--trace", dir.Path("t.txt")});
        EXPECT_EQ(scan.out, "2  17  Z7E AHU Interface\n") << port << scan.err;
        EXPECT_EQ(answered, 1) << port;
        // The frame sent after the silent address is on the log as it went over the line.
        const std::string trace = ReadFileText(dir.Path("t.txt"));
        const auto silent = trace.find("no reply after");
        ASSERT_NE(silent, std::string::npos) << trace;
        const std::string next = trace.substr(trace.find('\n', silent) + 1, trace.find("slave 2") - silent);
        EXPECT_NE(next.find("sent     00 03"), std::string::npos) << trace;
        EXPECT_NE(next.find("bad CRC"), std::string::npos) << trace;
    }
    stop = true;
    relay.join();
    server.join();
    ::close(lineEnd);
    ::close(gateway);
    modbus_free(unit); // the descriptor belongs to the pty
    modbus_mapping_free(map);
}

TEST(CliCommission, ASaveARunLeftOwedIsSentOnceByTheNextRunThoughNothingDiffers) {
    TTempDir dir;
    const std::string state = dir.Path("unit.state");
    const std::string file = dir.Path("site.rur");
    ASSERT_EQ(Cli({"defaults", "Z7E AHU Interface", "-o", file}).code, 0);
    EditFile(file, {{"Supply Fan Minimum Speed", "25"}});
    {
        // The unit takes the value but restarts as it saves: nobody answers the commit.
        TSimProcess restarting({"--port", "COM9", "--device", "Z7E AHU Interface", "--state",
                                QString::fromStdString(state), "--silent-commit"});
        ASSERT_FALSE(restarting.Port().empty()) << restarting.Errors();
        ASSERT_EQ(Cli({"write", "COM9", file}).code, 3);
    }
    // Back up, it holds the value unsaved; the record is all that knows.
    TSimProcess unit({"--port", "COM9", "--device", "Z7E AHU Interface", "--state",
                      QString::fromStdString(state), "--verbose"});
    ASSERT_FALSE(unit.Port().empty()) << unit.Errors();
    const CliResult dry = Cli({"commission", file, "COM9", "--dry-run"});
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_NE(dry.out.find("would-change  0 settings changed  "), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find(": Nothing differs; would send the save command the last run owed."),
              std::string::npos);
    EXPECT_EQ(unit.CountLines("commit ("), 0) << "a dry run sends nothing";
    const CliResult paid = Cli({"commission", file, "COM9"});
    EXPECT_EQ(paid.code, 0) << paid.out << paid.err;
    EXPECT_NE(paid.out.find("COM9@1  Z7E AHU Interface  saved  0 settings changed  "), std::string::npos)
        << paid.out;
    EXPECT_NE(paid.out.find(": Nothing differs; sent the save command the last run owed."),
              std::string::npos);
    EXPECT_EQ(unit.CountLines("commit (123 to holding register 9999)"), 1) << unit.Output();

    // Paid once: the next run finds nothing to send and owes nothing.
    const CliResult again = Cli({"write", "COM9", file});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, "The unit already holds these settings.\n");
    EXPECT_EQ(unit.CountLines("commit (123 to holding register 9999)"), 1) << unit.Output();

    const auto entries = ReadHistory(HistoryPath()).Entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Result, "unconfirmed");
    EXPECT_EQ(entries[0].Commit, "unanswered");
    EXPECT_EQ(entries[0].Sent, 1);
    EXPECT_EQ(entries[1].Result, "saved");
    EXPECT_EQ(entries[1].Commit, "answered");
    EXPECT_EQ(entries[1].Sent, 0);
    EXPECT_TRUE(entries[1].Changes.empty());
}
