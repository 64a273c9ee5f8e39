// The record every write leaves, made by the command line against the simulated unit, and
// "dezadizi-cli history" reading it.
#include "features/History.h"
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcessEnvironment>
#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace {

// The record and backups of the runs below go to a folder of the test's own.
class CliHistory : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_DATA_HOME"))
            FOld = old;
        ::setenv("XDG_DATA_HOME", FData.Path("data").c_str(), 1);
    }
    void TearDown() override { ::setenv("XDG_DATA_HOME", FOld.c_str(), 1); }

    static TCliRun Cli(QStringList arguments) {
        arguments << "-d" << QString::fromStdString(SourcePath("data/Devices.xml"));
        return RunCliProcess(arguments);
    }
    std::vector<THistoryEntry> Entries() const {
        const THistory history = ReadHistory(FData.Path("data/dezadizi/history.jsonl"));
        EXPECT_TRUE(history.Warnings.empty());
        return history.Entries;
    }
    // The AHU's defaults as a settings file, with `edit` applied to its settings by name.
    std::string File(const std::string& name, const std::function<void(pugi::xml_node)>& edit = {}) const {
        const std::string path = FData.Path(name);
        EXPECT_EQ(Cli({"defaults", "id:17", "-o", QString::fromStdString(path)}).code, 0);
        if (edit) {
            pugi::xml_document doc;
            EXPECT_TRUE(doc.load_file(path.c_str()));
            edit(doc.document_element());
            EXPECT_TRUE(doc.save_file(path.c_str()));
        }
        return path;
    }
    static void Set(pugi::xml_node root, const char* name, const char* attribute, const char* value) {
        pugi::xml_node setting =
            root.select_node(("//setting[@name='" + std::string(name) + "']").c_str()).node();
        ASSERT_TRUE(setting) << name;
        setting.attribute(attribute) = value;
    }

    TTempDir FData;

private:
    std::string FOld;
};

} // namespace

TEST_F(CliHistory, AWriteRecordsWhatChangedAsTheWindowShowsItAndTheBackupUndoesIt) {
    TSimProcess sim({"--device-id", "17"}, FData.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const QString port = QString::fromStdString(sim.Port());
    const std::string defaults = File("defaults.rur");
    ASSERT_EQ(Cli({"write", port, QString::fromStdString(defaults)}).code, 0);
    ASSERT_EQ(Entries().size(), 1u);

    const std::string edited = File("edited.rur", [](pugi::xml_node root) {
        Set(root, "Supply Fan Minimum Speed", "value", "25");
        Set(root, "Maximum Supply Air Velocity", "value", "300");
        Set(root, "Unit Name", "text", "B\u00fcro");
    });
    const TCliRun written = Cli({"write", port, QString::fromStdString(edited)});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(written.err, "");
    std::vector<THistoryEntry> entries = Entries();
    ASSERT_EQ(entries.size(), 2u) << "exactly one entry per write";
    const THistoryEntry& entry = entries[1];
    EXPECT_EQ(entry.Result, "verified");
    EXPECT_EQ(entry.Port, sim.Port());
    EXPECT_EQ(entry.Address, 1);
    EXPECT_EQ(entry.DeviceId, 17);
    EXPECT_FALSE(entry.DeviceType.empty());
    EXPECT_EQ(entry.SettingsFile, edited);
    EXPECT_EQ(entry.SettingsSha256.size(), 64u);
    EXPECT_NE(entry.Time.find('T'), std::string::npos);
    std::string changes;
    for (const THistoryChange& c : entry.Changes)
        changes += c.Group + " / " + c.Setting + ": " + c.Before + " > " + c.After + " = " + c.Held + "\n";
    EXPECT_EQ(changes, "Unit Settings / Unit Name: Z7E Unit > B\u00fcro = B\u00fcro\n"
                       "Unit Settings / Maximum Supply Air Velocity: 2.50 m/sec > 3.00 m/sec = 3.00 m/sec\n"
                       "Unit Settings / Supply Fan Minimum Speed: 20 % > 25 % = 25 %\n");

    // The backup holds what the unit held before: written back, it undoes the change.
    ASSERT_FALSE(entry.Backup.empty());
    const TCliRun diff =
        Cli({"diff", "id:17", QString::fromStdString(entry.Backup), QString::fromStdString(defaults)});
    EXPECT_EQ(diff.code, 0) << diff.out << diff.err;

    // The same file again: nothing is sent, nothing is recorded, no backup is left.
    const size_t backups = QDir(QString::fromStdString(FData.Path("data/dezadizi/backups"))).count();
    const TCliRun again = Cli({"write", port, QString::fromStdString(edited)});
    EXPECT_EQ(again.out, "The unit already holds these settings.\n");
    EXPECT_EQ(Entries().size(), 2u);
    EXPECT_EQ(QDir(QString::fromStdString(FData.Path("data/dezadizi/backups"))).count(), backups);

    const TCliRun listed = Cli({"history", "--port", port, "--since", "2000-01-01"});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_NE(listed.out.find("  " + sim.Port() + "  " + entry.DeviceType +
                              "  Unit Settings / Supply Fan Minimum Speed: 20 % \u2192 25 %  verified\n"),
              std::string::npos)
        << listed.out;
    EXPECT_EQ(Cli({"history", "--port", "COM9"}).out, "");
    EXPECT_EQ(Cli({"history", "--since", "yesterday"}).code, 1);

    const std::string report = FData.Path("job.html");
    const TCliRun sheet = Cli({"history", "--report", QString::fromStdString(report), "--device", "id:17"});
    EXPECT_EQ(sheet.code, 0) << sheet.err;
    EXPECT_NE(ReadFileText(report).find("<td>Maximum Supply Air Velocity</td>"), std::string::npos);
}

TEST_F(CliHistory, AMismatchIsRecordedWithWhatTheUnitHolds) {
    TSimProcess sim({"--device-id", "17", "--clamp", "117:50"}, FData.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const TCliRun written =
        Cli({"write", QString::fromStdString(sim.Port()), QString::fromStdString(File("a.rur"))});
    EXPECT_EQ(written.code, 1);
    const std::vector<THistoryEntry> entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Result, "mismatch");
    bool found = false;
    for (const THistoryChange& c : entries[0].Changes) {
        if (c.Setting == "Supply Fan Maximum Speed") {
            found = true;
            EXPECT_EQ(c.After, "90 %");
            EXPECT_EQ(c.Held, "50 %");
        } else {
            EXPECT_EQ(c.Held, c.After) << c.Setting;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(CliHistory, ARecordThatCannotBeWrittenWarnsAndTheWriteStands) {
    TSimProcess sim({"--device-id", "17"}, FData.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string blocker = FData.Write("blocker", "not a folder\n");
    ::setenv("XDG_DATA_HOME", blocker.c_str(), 1);
    const std::string file =
        File("b.rur", [](pugi::xml_node root) { Set(root, "Supply Fan Minimum Speed", "value", "30"); });
    const TCliRun written = Cli({"write", QString::fromStdString(sim.Port()), QString::fromStdString(file)});
    EXPECT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(written.out.rfind("Settings written and verified (", 0), 0u) << written.out;
    const std::string unit = sim.Port() + "@1: ";
    EXPECT_NE(written.err.find("warning: " + unit + "cannot save the unit's settings before writing in \"" +
                               blocker + "/dezadizi/backups\": "),
              std::string::npos)
        << written.err;
    EXPECT_NE(written.err.find("warning: " + unit + "cannot record the write in \"" + blocker +
                               "/dezadizi/history.jsonl\": "),
              std::string::npos)
        << written.err;
}

TEST_F(CliHistory, APortWhoseAddressIsNotOneTo247IsAUsageError) {
    for (const char* port : {"COM5@abc", "COM5@0", "COM5@248", "/dev/ttyUSB0@"}) {
        const TCliRun listed = Cli({"history", "--port", port});
        EXPECT_EQ(listed.code, 2) << port;
        EXPECT_NE(listed.err.find("Not a slave address: "), std::string::npos) << listed.err;
        EXPECT_NE(listed.err.find("(use 1 to 247)"), std::string::npos) << listed.err;
    }
    const TCliRun fine = Cli({"history", "--port", "COM5@247"});
    EXPECT_EQ(fine.code, 0) << fine.err;
}
