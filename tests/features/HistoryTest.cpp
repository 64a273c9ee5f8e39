// The write record read back: damaged lines, filters, and the page handed over with the job.
#include "features/History.h"
#include "support/TestSupport.h"

#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

THistoryEntry Entry(const std::string& time, const std::string& port, int32_t id, const std::string& device,
                    std::vector<THistoryChange> changes, const std::string& result = "verified") {
    THistoryEntry entry;
    entry.Time = time;
    entry.User = "engineer";
    entry.Host = "van";
    entry.Version = "1.0";
    entry.Port = port;
    entry.Address = 1;
    entry.DeviceId = id;
    entry.DeviceType = device;
    entry.Result = result;
    entry.Changes = std::move(changes);
    return entry;
}

std::string Times(const THistory& history) {
    std::string text;
    for (const THistoryEntry& entry : history.Entries)
        text += entry.Time + " ";
    return text;
}

std::string ReadError(const std::string& path) {
    try {
        ReadHistory(path);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "read";
}

} // namespace

TEST(History, AppendedEntriesReadBackAndDamagedLinesAreSkippedWithAWarning) {
    TTempDir dir;
    const std::string path = dir.Path("data/dezadizi/history.jsonl");
    THistoryEntry first = Entry("2026-03-01T08:00:00Z", "COM1", 17, "AHU",
                                {{"Unit Settings", "Unit Name", "Old \"A\"", "B\u00fcro", "B\u00fcro"}});
    first.SettingsFile = "/site/a.RUR";
    first.SettingsSha256 = "ab12";
    first.Backup = "/data/backups/x.RUR";
    ASSERT_EQ(AppendHistoryEntry(path, first), "");
    ASSERT_EQ(AppendHistoryEntry(path, Entry("2026-03-02T08:00:00Z", "COM2", 18, "Boiler", {})), "");
    const std::string written = ReadFileText(path);
    ASSERT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << "one line per run";

    THistory history = ReadHistory(path);
    EXPECT_TRUE(history.Warnings.empty());
    ASSERT_EQ(history.Entries.size(), 2u);
    const THistoryEntry& back = history.Entries[0];
    EXPECT_EQ(back.SettingsFile, "/site/a.RUR");
    EXPECT_EQ(back.SettingsSha256, "ab12");
    EXPECT_EQ(back.Backup, "/data/backups/x.RUR");
    ASSERT_EQ(back.Changes.size(), 1u);
    EXPECT_EQ(back.Changes[0].Before, "Old \"A\"");
    EXPECT_EQ(back.Changes[0].Held, "B\u00fcro");
    EXPECT_TRUE(history.Entries[1].SettingsFile.empty());

    // A line spoiled in the middle, then one a killed program left without its end.
    const std::string line = HistoryEntryJson(Entry("2026-03-03T08:00:00Z", "COM3", 17, "AHU", {}));
    dir.Write("data/dezadizi/history.jsonl",
              written + "not json\n" + line + "\n" + line.substr(0, line.size() / 2));
    history = ReadHistory(path);
    EXPECT_EQ(Times(history), "2026-03-01T08:00:00Z 2026-03-02T08:00:00Z 2026-03-03T08:00:00Z ");
    ASSERT_EQ(history.Warnings.size(), 2u);
    EXPECT_EQ(history.Warnings[0], "Skipped line 3 of \"" + path + "\": not a record");
    EXPECT_EQ(history.Warnings[1], "Skipped line 5 of \"" + path + "\": an unfinished record");

    EXPECT_TRUE(ReadHistory(dir.Path("none.jsonl")).Entries.empty()) << "no record yet";
}

TEST(History, AnEntryAppendedAfterATornLastLineStartsOnANewLine) {
    TTempDir dir;
    const std::string path = dir.Path("history.jsonl");
    const std::string line = HistoryEntryJson(Entry("2026-03-01T08:00:00Z", "COM1", 17, "AHU", {}));
    dir.Write("history.jsonl", line + "\n" + line.substr(0, line.size() / 2));
    ASSERT_EQ(AppendHistoryEntry(path, Entry("2026-03-02T08:00:00Z", "COM2", 17, "AHU", {})), "");
    ASSERT_EQ(AppendHistoryEntry(path, Entry("2026-03-03T08:00:00Z", "COM2", 17, "AHU", {})), "");
    const THistory history = ReadHistory(path);
    EXPECT_EQ(Times(history), "2026-03-01T08:00:00Z 2026-03-02T08:00:00Z 2026-03-03T08:00:00Z ");
    ASSERT_EQ(history.Warnings.size(), 1u);
    EXPECT_EQ(history.Warnings[0], "Skipped line 2 of \"" + path + "\": not a record");
}

TEST(History, AnUnwritableRecordIsAWarningNamingIt) {
    TTempDir dir;
    const std::string blocker = dir.Write("file", "x");
    const std::string warning =
        AppendHistoryEntry(blocker + "/dezadizi/history.jsonl", Entry("t", "p", 1, "d", {}));
    EXPECT_EQ(
        warning.rfind("p@1: cannot record the write in \"" + blocker + "/dezadizi/history.jsonl\": ", 0), 0u)
        << warning;
    ASSERT_EQ(::chmod(dir.Path("").c_str(), 0500), 0);
    const std::string denied = AppendHistoryEntry(dir.Path("history.jsonl"), Entry("t", "p", 1, "d", {}));
    ::chmod(dir.Path("").c_str(), 0700);
    if (::geteuid() != 0) {
        EXPECT_NE(denied.find("Permission denied"), std::string::npos) << denied;
    }
}

TEST(History, TheRecordIsOnlyARegularFileOfSaneSizeNeverALinkOrAFifo) {
    TTempDir dir;
    THistoryEntry entry = Entry("2026-03-01T08:00:00Z", "COM3", 17, "AHU", {});
    entry.Address = 2;
    const std::string target = dir.Write("elsewhere.txt", "keep\n");
    const std::string link = dir.Path("link.jsonl");
    const std::string fifo = dir.Path("fifo.jsonl");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // neither side may wait for the other end
    for (const auto& [path, kind] : {std::pair{link, "a symbolic link"}, std::pair{fifo, "a FIFO"}}) {
        const std::string why = std::string("It is ") + kind +
                                ", not a regular file. Move it aside; the next write starts a new record.";
        EXPECT_EQ(AppendHistoryEntry(path, entry),
                  "COM3@2: cannot record the write in \"" + path + "\": " + why);
        EXPECT_EQ(ReadError(path), "Cannot open the write record \"" + path + "\". " + why);
    }
    EXPECT_EQ(ReadFileText(target), "keep\n") << "nothing appended to the link's target";
    const std::string large = dir.Write("large.jsonl", "");
    ASSERT_EQ(::truncate(large.c_str(), (off_t{256} << 20) + 1), 0);
    EXPECT_NE(ReadError(large).find("It is larger than 256 MiB"), std::string::npos);
}

TEST(History, ProcessesAppendingAtOnceNeverInterleaveTheirLines) {
    // Lines longer than any stream buffer, from several processes at once, as commissioning
    // children append them.
    TTempDir dir;
    const std::string path = dir.Path("history.jsonl");
    constexpr int Children = 4;
    constexpr int Lines = 25;
    std::vector<pid_t> children;
    for (int c = 0; c < Children; ++c) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<THistoryChange> changes(300,
                                                {"Group", "Setting", std::string(40, 'a' + c), "after", ""});
            for (int i = 0; i < Lines; ++i) {
                if (!AppendHistoryEntry(path, Entry("2026-03-01T08:00:00Z", "COM" + std::to_string(c + 1), 17,
                                                    "AHU", changes))
                         .empty())
                    ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const THistory history = ReadHistory(path);
    EXPECT_TRUE(history.Warnings.empty()) << history.Warnings.front();
    ASSERT_EQ(history.Entries.size(), static_cast<size_t>(Children * Lines));
    for (const THistoryEntry& entry : history.Entries) {
        ASSERT_EQ(entry.Changes.size(), 300u);
        const char mark = static_cast<char>('a' + (entry.Port.back() - '1'));
        EXPECT_EQ(entry.Changes.back().Before, std::string(40, mark)) << "a line of one process only";
    }
}

TEST(History, FiltersSelectByPortDeviceAndTime) {
    TTempDir dir;
    const std::string path = dir.Path("history.jsonl");
    std::vector<THistoryEntry> entries{Entry("2026-03-01T23:59:59Z", "COM1", 17, "AHU Unit", {}),
                                       Entry("2026-03-02T00:00:00Z", "/dev/ttyUSB0", 17, "AHU Unit", {}),
                                       Entry("2026-03-02T12:30:00Z", "COM1", 18, "Boiler", {}),
                                       Entry("2026-03-05T08:00:00Z", "com1", 17, "AHU Unit", {})};
    // A second unit on the first line.
    entries[2].Address = 7;
    for (const THistoryEntry& entry : entries)
        ASSERT_EQ(AppendHistoryEntry(path, entry), "");
    const auto times = [&path](const THistoryFilter& filter) { return Times(ReadHistory(path, filter)); };
    EXPECT_EQ(times({"COM1", "", ""}), "2026-03-01T23:59:59Z 2026-03-02T12:30:00Z 2026-03-05T08:00:00Z ");
    EXPECT_EQ(times({"/dev/ttyUSB0", "", ""}), "2026-03-02T00:00:00Z ");
    EXPECT_EQ(times({"COM1@7", "", ""}), "2026-03-02T12:30:00Z ");
    EXPECT_EQ(times({"COM1@1", "", ""}), "2026-03-01T23:59:59Z 2026-03-05T08:00:00Z ");
    EXPECT_EQ(HistoryText(ReadHistory(path, {"COM1@7", "", ""}).Entries),
              "2026-03-02T12:30:00Z  COM1@7  Boiler  (no setting changed)  verified\n");
    EXPECT_EQ(times({"", "ahu unit", ""}), "2026-03-01T23:59:59Z 2026-03-02T00:00:00Z 2026-03-05T08:00:00Z ");
    EXPECT_EQ(times({"", "18", ""}), "2026-03-02T12:30:00Z ");
    EXPECT_EQ(times({"", "id:18", ""}), "2026-03-02T12:30:00Z ");
    EXPECT_EQ(times({"", "Boil", ""}), "");
    EXPECT_EQ(times({"", "", "2026-03-02"}),
              "2026-03-02T00:00:00Z 2026-03-02T12:30:00Z 2026-03-05T08:00:00Z ");
    EXPECT_EQ(times({"", "", "2026-03-02T12:30:01Z"}), "2026-03-05T08:00:00Z ");
    EXPECT_EQ(times({"COM1", "AHU Unit", "2026-03-02"}), "2026-03-05T08:00:00Z ");
    EXPECT_THROW(CheckHistoryFilter({"", "", "last week"}), std::exception);
    EXPECT_THROW(CheckHistoryFilter({"", "", "2026-13-01"}), std::exception);
    EXPECT_NO_THROW(CheckHistoryFilter({"", "", "2026-03-02T10:00:00+01:00"}));
}

TEST(History, TextAndCsvHaveOneRowPerChangedSetting) {
    const std::vector<THistoryEntry> entries{
        Entry("2026-03-01T08:00:00Z", "COM1", 17, "AHU",
              {{"Unit Settings", "Supply Fan Minimum Speed", "20 %", "25 %", "25 %"},
               {"Unit Settings", "Supply Fan Maximum Speed", "80 %", "90 %", "50 %"}},
              "mismatch"),
        Entry("2026-03-02T08:00:00Z", "COM2", 17, "AHU", {{"Unit Settings", "Unit Name", "", "=cmd", ""}},
              "stopped")};
    EXPECT_EQ(
        HistoryText(entries),
        "2026-03-01T08:00:00Z  COM1  AHU  Unit Settings / Supply Fan Minimum Speed: 20 % \u2192 25 %  "
        "mismatch\n"
        "2026-03-01T08:00:00Z  COM1  AHU  Unit Settings / Supply Fan Maximum Speed: 80 % \u2192 90 % (unit "
        "holds 50 %)  mismatch\n"
        "2026-03-02T08:00:00Z  COM2  AHU  Unit Settings / Unit Name:  \u2192 =cmd  stopped\n");
    const std::string csv = HistoryCsv(entries);
    EXPECT_EQ(
        csv.substr(0, csv.find("\r\n")),
        "Time,User,Host,Version,Port,Address,Device ID,Device,Settings File,SHA-256,Result,Backup,Group,"
        "Setting,Before,After,Unit Holds");
    EXPECT_NE(csv.find(",mismatch,,Unit Settings,Supply Fan Maximum Speed,80 %,90 %,50 %\r\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",Unit Name,,'=cmd,\r\n"), std::string::npos) << "a formula is defused\n" << csv;

    // A hand-edited record: every text field is defused, not only those typed at the unit.
    THistoryEntry edited = Entry("=HYPERLINK(\"http://x\")", "COM1", 17, "AHU", {}, "@SUM(1)");
    edited.Version = "+1";
    edited.SettingsSha256 = "-2";
    const std::string row = HistoryCsv({edited});
    EXPECT_EQ(row.substr(row.find("\r\n") + 2),
              "\"'=HYPERLINK(\"\"http://x\"\")\",engineer,van,'+1,COM1,1,17,AHU,,'-2,'@SUM(1),,,,,,\r\n");
}

TEST(History, TheReportIsWellFormedListsEveryUnitAndSettingAndEscapesMarkup) {
    THistoryEntry hostile = Entry("2026-03-02T08:00:00Z", "COM2", 18, "Boiler <b>",
                                  {{"Zone & Co", "<script>alert(1)</script>", "a\"b", "x<y", ""}}, "failed");
    hostile.SettingsFile = "/site/<i>.RUR";
    const std::vector<THistoryEntry> entries{
        Entry("2026-03-01T08:00:00Z", "COM1", 17, "AHU",
              {{"Unit Settings", "Supply Fan Minimum Speed", "20 %", "25 %", "25 %"}}),
        hostile,
        Entry("2026-03-03T08:00:00Z", "COM1", 17, "AHU",
              {{"Unit Settings", "Supply Fan Maximum Speed", "80 %", "90 %", "50 %"}}, "mismatch")};
    const std::string html = HistoryReport(entries);
    EXPECT_NE(html.find("@page"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);

    // Parsed as XHTML: every text the files gave is text, never an element.
    QXmlStreamReader xml(QString::fromStdString(html));
    QStringList elements;
    QStringList cells;
    QStringList headings;
    QString current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            elements << xml.name().toString();
            current = xml.name().toString();
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            if (current == "td")
                cells << xml.text().toString();
            else if (current == "h2")
                headings << xml.text().toString();
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
    for (const char* forbidden : {"script", "b", "i"})
        EXPECT_FALSE(elements.contains(forbidden)) << forbidden;
    EXPECT_EQ(headings, QStringList({"Units", "AHU on COM1, address 1", "Boiler <b> on COM2, address 1"}))
        << "each unit once, in the order first written";
    for (const char* cell :
         {"Supply Fan Minimum Speed", "Supply Fan Maximum Speed", "<script>alert(1)</script>", "Zone & Co",
          "a\"b", "x<y", "50 %", "mismatch", "failed"})
        EXPECT_TRUE(cells.contains(cell)) << cell;
}

TEST(History, AUnitOwesACommitUntilARunHasOneAnswered) {
    const auto run = [](const std::string& port, int32_t id, const std::string& commit, int32_t sent) {
        THistoryEntry entry = Entry("2026-03-01T10:00:00Z", port, id, "AHU", {}, "unconfirmed");
        entry.Commit = commit;
        entry.Sent = sent;
        return entry;
    };
    std::vector<THistoryEntry> entries{run("COM3", 17, "unanswered", 2)};
    EXPECT_TRUE(UnitOwesCommit(entries, "COM3", 1, 17));
    EXPECT_FALSE(UnitOwesCommit(entries, "COM3", 2, 17)) << "another address";
    EXPECT_FALSE(UnitOwesCommit(entries, "COM3", 1, 18)) << "another device id";
    EXPECT_FALSE(UnitOwesCommit(entries, "COM4", 1, 17)) << "another port";
    // A later run that sent nothing and never reached the commit leaves the debt standing.
    entries.push_back(run("COM3", 17, "not sent", 0));
    entries.push_back(run("COM4", 17, "answered", 1));
    EXPECT_TRUE(UnitOwesCommit(entries, "COM3", 1, 17));
    // An entry from before the record said what became of the commit tells nothing.
    entries.push_back(run("COM3", 17, "", 0));
    EXPECT_TRUE(UnitOwesCommit(entries, "COM3", 1, 17));
    entries.push_back(run("COM3", 17, "answered", 0));
    EXPECT_FALSE(UnitOwesCommit(entries, "COM3", 1, 17));
    // A stopped run that sent values before its stop owes again.
    entries.push_back(run("COM3", 17, "not sent", 1));
    EXPECT_TRUE(UnitOwesCommit(entries, "COM3", 1, 17));

    // The fields survive the record's line.
    THistoryEntry back;
    ASSERT_TRUE(HistoryEntryFromJson(HistoryEntryJson(entries.back()), back));
    EXPECT_EQ(back.Commit, "not sent");
    EXPECT_EQ(back.Sent, 1);
}
