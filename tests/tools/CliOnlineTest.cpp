#include "features/History.h"
#include "modbus/MbusMasterFunctions.h"
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <pugixml.hpp>

namespace {

using CliResult = TCliRun;

CliResult Cli(const std::vector<std::string>& args) {
    return RunBuiltCli(args, 60000);
}

// The settings of a settings file that live on the unit: every group but the controllers'
// template groups ("ZA9 n"), whose values are only copied from and never sent.
std::vector<std::string> UnitSettings(const std::string& path) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(path.c_str()));
    std::vector<std::string> lines;
    for (pugi::xml_node group : doc.document_element().child("device").children("group")) {
        if (std::string(group.attribute("name").value()).rfind("ZA9 ", 0) == 0)
            continue;
        for (pugi::xml_node setting : group.children("setting")) {
            std::string line =
                std::string(group.attribute("ID").value()) + "/" + setting.attribute("ID").value();
            for (pugi::xml_attribute attribute : setting.attributes())
                line += std::string(" ") + attribute.name() + "=" + attribute.value();
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace

TEST(CliOnline, WriteThenReadRoundTripsTheUnitsConfiguration) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();

    const std::string defaults = dir.Path("defaults.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", defaults}).code, 0);
    const CliResult written = Cli({"write", sim.Port(), defaults});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(written.out.rfind("Settings written and verified (", 0), 0u) << written.out;

    const std::string readBack = dir.Path("read.rur");
    const CliResult read = Cli({"read", sim.Port(), "-o", readBack});
    ASSERT_EQ(read.code, 0) << read.err;
    const auto expected = UnitSettings(defaults);
    const auto actual = UnitSettings(readBack);
    EXPECT_GT(expected.size(), 1000u);
    ASSERT_EQ(actual.size(), expected.size());
    int differences = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] != expected[i] && ++differences <= 5)
            ADD_FAILURE() << "written " << expected[i] << "\nread    " << actual[i];
    }
    EXPECT_EQ(differences, 0) << "the unit holds exactly what was written";
    sim.Stop();
    EXPECT_NE(sim.Output().find("commit"), std::string::npos) << sim.Output();
}

TEST(CliOnline, UnitProblemsGiveTheirMessages) {
    TTempDir dir;
    {
        TSimProcess sim({"--device-id", "99"}, dir.Path("config"));
        ASSERT_FALSE(sim.Port().empty());
        const CliResult r = Cli({"read", sim.Port(), "-o", dir.Path("x.rur")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "Could not find device with ID '99' in the XML device definitions list\n");
    }
    {
        TSimProcess sim({}, dir.Path("config"));
        ASSERT_FALSE(sim.Port().empty());
        const CliResult r = Cli({"read", sim.Port(), "-o", dir.Path("x.rur")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.rfind("Could not find a device attached to comm port '1' address '1'\n\n", 0), 0u)
            << r.err;
    }
    {
        TSimProcess sim({"--device-id", "17", "--fault", "no-reply=1"}, dir.Path("config"));
        ASSERT_FALSE(sim.Port().empty());
        const CliResult r = Cli({"read", sim.Port(), "-o", dir.Path("x.rur")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "Failed to connect, please check connections and settings\n");
    }
    {
        // A file value outside its setting's limits never reaches the unit without consent.
        TSimProcess sim({"--device-id", "17"}, dir.Path("config"));
        ASSERT_FALSE(sim.Port().empty());
        const std::string defaults = dir.Path("defaults.rur");
        ASSERT_EQ(Cli({"defaults", "id:17", "-o", defaults}).code, 0);
        std::string text = ReadFileText(defaults);
        const size_t at = text.find("value=\"20\"", text.find("name=\"Supply Fan Minimum Speed\""));
        text.replace(at, 10, "value=\"150\"");
        const CliResult r = Cli({"write", sim.Port(), dir.Write("outside.rur", text)});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  "1 value in the file is outside its setting's limits:\n'Supply Fan Minimum Speed' (Unit "
                  "Settings, register 115): 150 % (limits 0 to 100 %)\n--allow-out-of-range loads them "
                  "anyway.\n");
        sim.Stop();
        EXPECT_NE(sim.Output().find(" and 0 commits"), std::string::npos) << sim.Output();
    }
    const CliResult noPort = Cli({"read", "/dev/nonexistent-port", "-o", dir.Path("x.rur")});
    EXPECT_EQ(noPort.code, 1);
    EXPECT_NE(noPort.err.find("Port or socket open error"), std::string::npos) << noPort.err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.Path("x.rur"))));
}

TEST(CliOnline, UsageAndPortMapping) {
    EXPECT_EQ(Cli({"read", "COM1"}).code, 2);
    EXPECT_EQ(Cli({"write", "COM1"}).code, 2);
    EXPECT_EQ(Cli({"read", "LPT1", "-o", "/tmp/x"}).code, 1);
    EXPECT_EQ(Cli({"read", "COM1@0", "-o", "/tmp/x"}).code, 2);
    EXPECT_EQ(Cli({"write", "COM1@x", "/tmp/x.rur"}).code, 2);

    const CliResult set = Cli({"ports", "set", "com7", "/dev/ttyUSB3"});
    EXPECT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(QSettings("Roduzede", "Dezadizi Config Manager").value("Ports/COM7").toString(),
              "/dev/ttyUSB3");
    const CliResult list = Cli({"ports"});
    EXPECT_NE(list.out.find("COM7\t/dev/ttyUSB3\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("COM1\t/dev/ttyS0\t(default)\n"), std::string::npos) << list.out;
    EXPECT_EQ(Cli({"ports", "clear", "COM7"}).code, 0);
    EXPECT_FALSE(QSettings("Roduzede", "Dezadizi Config Manager").contains("Ports/COM7"));
    EXPECT_EQ(Cli({"ports", "set", "/dev/x", "/dev/y"}).code, 2);
}

TEST(CliOnline, ASharedRegistersChoiceAndAnAccentedNameReachTheUnitAsTheFileHoldsThem) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string file = dir.Path("optimised.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", file}).code, 0);
    {
        // As a unit in "Optimised" would be saved: the check box on the same register unchecked.
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file(file.c_str()));
        int changed = 0;
        for (pugi::xml_node group : doc.document_element().child("device").children("group")) {
            for (pugi::xml_node setting : group.children("setting")) {
                const std::string name = setting.attribute("name").value();
                if (name == "Night Setback Mode" && ++changed)
                    setting.attribute("value") = 7;
                else if (name == "Night Setback" && ++changed)
                    setting.attribute("value") = 0;
                else if (name == "Unit Name" && ++changed)
                    setting.attribute("text") = "B\u00fcro";
            }
        }
        ASSERT_EQ(changed, 3);
        ASSERT_TRUE(doc.save_file(file.c_str()));
    }
    const CliResult written = Cli({"write", sim.Port(), file});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(written.err, "");

    const CliResult read = Cli({"read", sim.Port(), "-o", dir.Path("read.rur")});
    ASSERT_EQ(read.code, 0) << read.err;
    pugi::xml_document readBack;
    ASSERT_TRUE(readBack.load_file(dir.Path("read.rur").c_str()));
    const auto first = [&](const char* name) {
        return readBack.select_node(("//setting[@name='" + std::string(name) + "']").c_str()).node();
    };
    EXPECT_EQ(first("Night Setback Mode").attribute("value").as_int(), 7);
    EXPECT_EQ(std::string(first("Unit Name").attribute("text").value()), "B\u00fcro");

    // The unit's own registers, seen by an independent master once the tool has let go.
    modbus_t* ctx = modbus_new_rtu(sim.Port().c_str(), 9600, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    modbus_set_response_timeout(ctx, 0, 500000);
    modbus_set_slave(ctx, 1);
    uint16_t name[3] = {};
    EXPECT_EQ(modbus_read_registers(ctx, 100, 3, name), 3);
    uint16_t mode = 0;
    EXPECT_EQ(modbus_read_registers(ctx, 124, 1, &mode), 1);
    // A control byte in the name: the read says what it shows instead.
    EXPECT_EQ(modbus_write_register(ctx, 100, 0x4101), 1);
    modbus_close(ctx);
    modbus_free(ctx);
    EXPECT_EQ(name[0], 0x42FC); // "Bü" on the wire: 42 FC
    EXPECT_EQ(name[1], 0x726F); // "ro": 72 6F
    EXPECT_EQ(name[2], 0);
    EXPECT_EQ(mode, 7);
    const CliResult control = Cli({"read", sim.Port(), "-o", dir.Path("control.rur")});
    EXPECT_EQ(control.code, 0);
    EXPECT_EQ(control.err,
              "warning: Setting 'Unit Name': 1 control byte(s) in the unit's text are shown as \"?\".\n");
}

TEST(CliOnline, APortMappingThatCannotBeSavedSaysWhyAndShowsNothing) {
    // The user-settings folder lies under a regular file, so the mapping cannot be stored.
    TTempDir dir;
    const std::string blocker = dir.Write("config", "not a folder\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(blocker));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(BinPath("dezadizi-cli")), {"ports", "set", "COM3", "/dev/ttyUSB0"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(process.readAllStandardOutput().toStdString(), "");
    EXPECT_EQ(process.readAllStandardError().toStdString(),
              "Cannot save the comm port mapping in \"" + blocker +
                  "/Roduzede/Dezadizi Config Manager.conf\": " + std::strerror(ENOTDIR) + "\n");
}

TEST(CliOnline, AnUnansweredCommitIsWrittenButNotConfirmedExitThree) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17", "--silent-commit"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string defaults = dir.Path("defaults.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", defaults}).code, 0);
    const CliResult written = Cli({"write", sim.Port(), defaults});
    EXPECT_EQ(written.code, 3) << written.err;
    EXPECT_EQ(written.out, "Settings written successfully.\n");
    EXPECT_NE(written.err.find("The unit did not answer the save command (commit to register 9999: "),
              std::string::npos)
        << written.err;
    EXPECT_NE(written.err.find("). If it was restarted before it finished saving, write again.\n"),
              std::string::npos)
        << written.err;
    EXPECT_NE(Cli({"--help"}).out.find("3 written but the save not confirmed"), std::string::npos);
}

namespace {

// Sets the value of the first setting of that name in a settings file.
void SetFileValue(const std::string& path, const std::string& name, int value) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    pugi::xml_node setting = doc.select_node(("//setting[@name='" + name + "']").c_str()).node();
    ASSERT_TRUE(setting);
    setting.attribute("value") = value;
    ASSERT_TRUE(doc.save_file(path.c_str()));
}

// Write requests (coils and registers, the commit included) the simulator has logged.
int Writes(const TSimProcess& sim) {
    return sim.CountLines("request 01 05") + sim.CountLines("request 01 06");
}

} // namespace

TEST(CliOnline, AReadBackUnansweredAfterAnAnsweredCommitIsWrittenButNotConfirmedExitThree) {
    TTempDir dir;
    const std::string file = dir.Path("settings.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", file}).code, 0);
    SetFileValue(file, "Supply Fan Minimum Speed", 25);
    // A unit that answers everything tells how many requests the write takes: the read-back is the last.
    int requests = 0;
    {
        TSimProcess counted({"--device-id", "17", "--verbose"}, dir.Path("config"));
        ASSERT_FALSE(counted.Port().empty()) << counted.Errors();
        ASSERT_EQ(Cli({"write", counted.Port(), file}).code, 0);
        requests = counted.CountLines("request ");
    }
    const int before = static_cast<int>(ReadHistory(HistoryPath()).Entries.size());
    TSimProcess sim({"--device-id", "17", "--verbose", "--fault", "no-reply=1", "--fault-after",
                     QString::number(requests - 1)},
                    dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const CliResult written = Cli({"write", sim.Port(), file});
    EXPECT_EQ(written.code, 3) << written.out << written.err;
    EXPECT_EQ(written.out,
              "Settings written; the unit did not answer the read-back, so they are not verified: " +
                  ErrorText(FTALK_REPLY_TIMEOUT_ERROR) + ".\n")
        << written.err;
    EXPECT_EQ(sim.CountLines("commit (123"), 1) << sim.Output();
    const auto entries = ReadHistory(HistoryPath()).Entries;
    ASSERT_EQ(static_cast<int>(entries.size()), before + 1);
    EXPECT_EQ(entries.back().Result, "unconfirmed");
    EXPECT_EQ(entries.back().Commit, "answered");
}

TEST(CliOnline, WriteSendsOnlyWhatDiffersNothingWhenNothingDoesAndEverythingWithAll) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17", "--verbose"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string file = dir.Path("settings.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", file}).code, 0);
    ASSERT_EQ(Cli({"write", sim.Port(), file}).code, 0);
    ASSERT_EQ(sim.CountLines("commit (123"), 1);

    int before = Writes(sim);
    const CliResult same = Cli({"write", sim.Port(), file});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.out, "The unit already holds these settings.\n");
    EXPECT_EQ(Writes(sim), before) << "nothing sent, no commit";

    SetFileValue(file, "Supply Fan Minimum Speed", 25);
    before = Writes(sim);
    const CliResult one = Cli({"write", sim.Port(), file});
    EXPECT_EQ(one.code, 0) << one.err;
    EXPECT_EQ(one.out, "Settings written and verified (1 settings).\n");
    EXPECT_EQ(Writes(sim) - before, 2) << "the setting's register and the commit";
    // The check box beside the drop-down on its register reads the same before and after.
    SetFileValue(file, "Night Setback Mode", 7);
    const CliResult shared = Cli({"write", sim.Port(), file});
    EXPECT_EQ(shared.out, "Settings written and verified (1 settings).\n") << shared.err;

    before = Writes(sim);
    const CliResult all = Cli({"write", sim.Port(), file, "--all", "--no-verify"});
    EXPECT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(all.out, "Settings written successfully.\n");
    EXPECT_GT(Writes(sim) - before, 2000);
    EXPECT_EQ(sim.CountLines("commit (123"), 4);
}

TEST(CliOnline, AUnitThatKeepsAnotherValueIsNamedBySettingAndExitOne) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17", "--clamp", "117:50"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string file = dir.Path("settings.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", file}).code, 0);
    const CliResult written = Cli({"write", sim.Port(), file});
    EXPECT_EQ(written.code, 1);
    EXPECT_EQ(written.err, "Unit Settings / Supply Fan Maximum Speed: sent 90 %, unit holds 50 %\n");
    EXPECT_EQ(Cli({"write", sim.Port(), file, "--no-verify"}).code, 0) << "the read-back is skipped";
}

TEST(CliOnline, CtrlCStopsAWriteWithoutACommitAndExits130) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17", "--verbose", "--wire-speed"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string file = dir.Path("settings.rur");
    ASSERT_EQ(Cli({"defaults", "id:17", "-o", file}).code, 0);
    QProcess process;
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  {"write", QString::fromStdString(sim.Port()), QString::fromStdString(file), "-d",
                   QString::fromStdString(SourcePath("data/Devices.xml"))});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(sim.WaitFor([&] { return Writes(sim) >= 5; }, 60000)) << "the write did not begin";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 130);
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_EQ(err.rfind("Write stopped: ", 0), 0u) << err;
    EXPECT_NE(err.find(" sent; the unit has not saved them (no commit). Write again to finish.\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(sim.CountLines("commit (123"), 0);

    // The record owns up to what went out: the values sent, no commit, the settings sent only.
    const int sent = std::atoi(err.c_str() + std::string("Write stopped: ").size());
    const auto entries = ReadHistory(HistoryPath()).Entries;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Result, "stopped");
    EXPECT_EQ(entries[0].Commit, "not sent");
    EXPECT_EQ(entries[0].Sent, sent);
    EXPECT_FALSE(entries[0].Changes.empty());
    // A register may hold two settings, so up to two rows a value sent; far from all planned.
    EXPECT_LE(entries[0].Changes.size(), static_cast<size_t>(2 * sent)) << entries[0].Changes.size();
}

TEST(CliOnline, CtrlCDuringTheSearchEndsTheProgramWithoutReading) {
    TTempDir dir;
    // A unit that never answers: the search waits out its time-outs.
    TSimProcess sim({"--device-id", "17", "--verbose", "--fault", "no-reply=1"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    QProcess process;
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  {"read", QString::fromStdString(sim.Port()), "-o",
                   QString::fromStdString(dir.Path("out.rur")), "-d",
                   QString::fromStdString(SourcePath("data/Devices.xml"))});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(sim.WaitFor([&] { return sim.CountLines("fault: no-reply") >= 1; }, 60000))
        << "the search did not begin";
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_EQ(process.readAllStandardError().toStdString(), "Search stopped.\n");
    // The request on the wire (and its one repetition) ends; no second attempt is made.
    EXPECT_LE(sim.CountLines("fault: no-reply"), 2) << "the search went on after Ctrl-C";
}
