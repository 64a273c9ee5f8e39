// "--json": each line parsed on its own by Qt's parser and held against the human output.
#include "Cli.h"
#include "CliJsonMessages.h"
#include "features/History.h"
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

TCliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"-d", SourcePath("data/Devices.xml")}); // a later -d wins
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli(args, SourcePath("data"), out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every line an object with the schema version and of the kind expected.
std::vector<QJsonObject> Objects(const std::string& text, const char* kind) {
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(text)) {
        const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        EXPECT_EQ(object.value("schema").toInt(), 1) << line;
        EXPECT_EQ(object.value("kind").toString().toStdString(), kind) << line;
        objects.push_back(object);
    }
    return objects;
}

std::string S(const QJsonObject& o, const char* key) {
    return o.value(key).toString().toStdString();
}
std::string N(const QJsonObject& o, const char* key) {
    return std::to_string(o.value(key).toInt());
}

// Settings by their place in the tree, which a difference names too.
std::map<std::string, QJsonObject> ByPlace(const std::vector<QJsonObject>& objects) {
    std::map<std::string, QJsonObject> placed;
    for (const QJsonObject& object : objects)
        EXPECT_TRUE(placed.emplace(N(object, "group_index") + "/" + N(object, "entry_index"), object).second);
    return placed;
}

} // namespace

TEST(CliJson, DevicesSettingsDifferencesAndPortsMatchTheHumanOutput) {
    const std::vector<std::string> human = Lines(Cli({"devices"}).out);
    const std::vector<QJsonObject> types = Objects(Cli({"devices", "--json"}).out, "device");
    ASSERT_EQ(types.size(), human.size());
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(N(types[i], "position") + "\t" + N(types[i], "device_id") + "\t" +
                      N(types[i], "settings_id") + "\t" + S(types[i], "name"),
                  human[i]);

    // Against the defaults, the differences are exactly the settings whose words differ.
    TTempDir dir;
    const std::string saved = dir.Path("saved.rur");
    const auto before = ByPlace(Objects(Cli({"defaults", "#0", "--json"}).out, "setting"));
    const TCliRun convert =
        Cli({"convert", "#0", SourcePath("tests/data/golden/changed0.in.rur"), "-o", saved, "--json"});
    ASSERT_EQ(convert.code, cliOk) << convert.err;
    EXPECT_EQ(ReadFileText(saved), ReadFileText(SourcePath("tests/data/golden/changed0.rur")));
    EXPECT_EQ(S(Objects(convert.err, "warning").at(0), "message"),
              "Setting 'Unit Name': text cut to the 16 characters its registers hold.");
    const auto after = ByPlace(Objects(convert.out, "setting"));
    ASSERT_EQ(after.size(), before.size());
    const TCliRun diff = Cli({"diff", "#0", "defaults", saved, "--json"});
    EXPECT_EQ(diff.code, 1);
    const std::vector<std::string> rows = Lines(Cli({"diff", "#0", "defaults", saved}).out);
    const std::vector<QJsonObject> differences = Objects(diff.out, "difference");
    ASSERT_EQ(differences.size(), rows.size());
    size_t differing = 0;
    for (const auto& [place, setting] : before)
        differing += after.at(place).value("words") != setting.value("words") ? 1 : 0;
    EXPECT_EQ(differing, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const QJsonObject& d = differences[i];
        const std::string place = N(d, "group_index") + "/" + N(d, "entry_index");
        EXPECT_EQ(S(d, "group") + "\t" + S(before.at(place), "name") + "\t" + S(before.at(place), "text") +
                      "\t" + S(after.at(place), "text"),
                  rows[i]);
    }
    EXPECT_EQ(S(Objects(Cli({"ports", "--json"}).out, "port").at(0), "path") + "\t(default)",
              Lines(Cli({"ports"}).out).at(0).substr(5));
}

TEST(CliJson, CheckFindingsErrorsAndUsageErrors) {
    TTempDir dir;
    const std::string none = dir.Path("none.xml");
    const std::vector<std::string> lines = Lines(Cli({"check", "--json", "-d", none}).out);
    ASSERT_EQ(lines.size(), 2u);
    const QJsonObject finding = Objects(lines[0], "finding").at(0);
    EXPECT_EQ(S(finding, "file") + ": " + S(finding, "severity") + ": " + S(finding, "message"),
              none + ": error: Could not find XML document : " + none);
    const QJsonObject result = Objects(lines[1], "result").at(0);
    EXPECT_EQ(S(result, "outcome") + " " + N(result, "errors") + " " + N(result, "warnings"), "failed 1 0");

    // A failure writes nothing on standard output and one error; the exit status stays.
    const TCliRun missing = Cli({"convert", "#0", dir.Path("none.rur"), "--json"});
    EXPECT_EQ(missing.code, Cli({"convert", "#0", dir.Path("none.rur"), "-o", dir.Path("x.rur")}).code);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(Objects(missing.err, "error").size(), 1u) << missing.err;
    EXPECT_EQ(Cli({"defaults", "#0", "-o", "-", "--json"}).code, cliUsage);
    const TCliRun csv = Cli({"diff", "#0", "defaults", "defaults", "--csv", "--json"});
    EXPECT_EQ(csv.code + Objects(csv.err, "error").size(), cliUsage + 1u);
}

TEST(CliJson, HistoryEntriesRoundTripNonAsciiAndControlCharacters) {
    TTempDir dir;
    const std::string old = std::getenv("XDG_DATA_HOME") != nullptr ? std::getenv("XDG_DATA_HOME") : "";
    ::setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    THistoryEntry entry;
    entry.DeviceType = "Zone \xc3\xbc\xe2\x86\x92 \"north\"\\";
    entry.Changes.push_back({"G\x01", "Name\ttab", "a\nb", "\xe6\x97\xa5", ""});
    ASSERT_EQ(AppendHistoryEntry(HistoryPath(), entry), "");
    const std::string line = Cli({"history", "--json"}).out;
    ::setenv("XDG_DATA_HOME", old.c_str(), 1);
    // One line, non-ASCII as itself, control characters escaped.
    EXPECT_NE(line.find("\xc3\xbc\xe2\x86\x92"), std::string::npos);
    EXPECT_EQ(std::count_if(line.begin(), line.end(), [](char c) { return c >= 0 && c < 0x20; }), 1);
    const QJsonObject object = Objects(line, "entry").at(0);
    const QJsonObject change = object.value("changes").toArray().at(0).toObject();
    EXPECT_EQ(S(object, "deviceType") + S(change, "group") + S(change, "setting") + S(change, "before") +
                  S(change, "after"),
              entry.DeviceType + "G\x01Name\ttaba\nb\xe6\x97\xa5");
}

TEST(CliJson, ReadScanAndCommissionTellWhatTheirTextTells) {
    TTempDir dir;
    TSimProcess sim({"--device", "Z7E AHU Interface", "--slave", "2", "--slave", "5"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string saved = dir.Path("read.rur");
    const TCliRun read = RunBuiltCli({"read", sim.Port() + "@5", "-o", saved, "--json"}, 60000);
    ASSERT_EQ(read.code, cliOk) << read.err;
    // What the unit holds is what the file it saved holds, setting by setting.
    const auto file =
        ByPlace(Objects(Cli({"convert", "#0", saved, "--allow-out-of-range", "--json"}).out, "setting"));
    const auto unit = ByPlace(Objects(read.out, "setting"));
    ASSERT_GT(unit.size(), 100u);
    for (const auto& [place, setting] : unit)
        EXPECT_EQ(file.at(place), setting);

    const TCliRun scan = RunBuiltCli({"scan", sim.Port(), "--to", "6", "--json"}, 60000);
    const std::vector<QJsonObject> found = Objects(scan.out, "unit");
    ASSERT_EQ(found.size(), 2u) << scan.err;
    EXPECT_EQ(N(found[1], "address") + "  " + N(found[1], "device_id") + "  " + S(found[1], "device_type"),
              Lines(RunBuiltCli({"scan", sim.Port(), "--to", "6"}, 60000).out).at(1));

    std::vector<std::string> args{"commission", saved, sim.Port() + "@2", sim.Port() + "@5", "--dry-run"};
    const std::vector<std::string> text = Lines(RunBuiltCli(args, 60000).out);
    args.push_back("--json");
    const std::vector<QJsonObject> units = Objects(RunBuiltCli(args, 60000).out, "unit");
    ASSERT_EQ(units.size(), text.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const QJsonObject& u = units[i];
        EXPECT_EQ(text[i].substr(0, text[i].find(" settings changed")),
                  S(u, "port") + "@" + N(u, "address") + "  " + S(u, "device_type") + "  " + S(u, "result") +
                      "  " + N(u, "changed"));
    }
}

TEST(CliJson, WriteTellsEachChangeAsTheUnitHeldItAndEndsWithTheTextsResult) {
    TTempDir dir;
    TSimProcess sim({"--device", "Z7E AHU Interface", "--slave", "2", "--slave", "5"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string file = SourcePath("tests/data/golden/changed0.in.rur");
    // The rows diff gives between the unit and the file: what the write changes.
    const TCliRun diff = RunBuiltCli({"diff", "#0", "unit:" + sim.Port() + "@5", file}, 60000);
    ASSERT_EQ(diff.code, 1) << diff.err;
    std::vector<std::string> rows = Lines(diff.out);
    // The units selector only changes how values read: it is never written.
    const auto selector = std::find(rows.begin(), rows.end(), "Unit Settings\tDisplay Units\tm/sec\tft/min");
    ASSERT_NE(selector, rows.end()) << diff.out;
    rows.erase(selector);
    const TCliRun text = RunBuiltCli({"write", sim.Port() + "@2", file}, 60000);
    const TCliRun json = RunBuiltCli({"write", sim.Port() + "@5", file, "--json"}, 60000);
    ASSERT_EQ(json.code, text.code) << json.err;
    ASSERT_EQ(json.code, cliOk);

    std::vector<std::string> lines = Lines(json.out);
    ASSERT_EQ(lines.size(), rows.size() + 1) << json.out;
    const QJsonObject result = Objects(lines.back(), "result").at(0);
    lines.pop_back();
    EXPECT_EQ(S(result, "message") + "\n", text.out);
    EXPECT_EQ(S(result, "outcome") + " " + N(result, "changed"), "verified " + std::to_string(rows.size()));
    for (size_t i = 0; i < lines.size(); ++i) {
        const QJsonObject change = Objects(lines[i], "setting").at(0);
        EXPECT_EQ(S(change, "group") + "\t" + S(change, "name") + "\t" + S(change, "before") + "\t" +
                      S(change, "text"),
                  rows[i]);
        EXPECT_FALSE(change.value("registers").toArray().isEmpty()) << lines[i];
    }
    // The text's warnings, each an object.
    std::string warnings;
    for (const QJsonObject& warning : Objects(json.err, "warning"))
        warnings += "warning: " + S(warning, "message") + "\n";
    EXPECT_EQ(warnings, text.err);

    // Nothing left to change: the result alone, in the text's words.
    const TCliRun again = RunBuiltCli({"write", sim.Port() + "@5", file, "--json"}, 60000);
    ASSERT_EQ(again.code, cliOk) << again.err;
    const QJsonObject unchanged = Objects(Lines(again.out).at(0), "result").at(0);
    EXPECT_EQ(Lines(again.out).size(), 1u);
    EXPECT_EQ(S(unchanged, "outcome") + "\n" + S(unchanged, "message") + "\n",
              "unchanged\n" + RunBuiltCli({"write", sim.Port() + "@2", file}, 60000).out);
}

TEST(CliJson, AWarningIsWrittenWhenItHappensNotWhenTheCommandEnds) {
    // Both streams into one: the order they were written in is the order of the lines.
    std::ostringstream both;
    const int code = RunCli({"convert", "-d", SourcePath("data/Devices.xml"), "#0",
                             SourcePath("tests/data/golden/changed0.in.rur"), "--json"},
                            SourcePath("data"), both, both);
    ASSERT_EQ(code, cliOk) << both.str();
    const std::string lines = both.str();
    const size_t first = lines.find('\n') + 1;
    EXPECT_EQ(S(Objects(lines.substr(0, first), "warning").at(0), "message"),
              "Setting 'Unit Name': text cut to the 16 characters its registers hold.");
    EXPECT_GT(Objects(lines.substr(first), "setting").size(), 100u);
}

TEST(CliJson, AProgressBarOnATerminalIsNoMessage) {
    std::ostringstream err;
    {
        TCliJsonMessages messages(err);
        std::ostream stream(&messages);
        // As a session draws its bar when standard error is a terminal: a finished run, a warning,
        // and a run stopped with the bar half drawn.
        stream << "\rReading [    ] 0/8" << std::flush << "\rReading [####] 8/8" << std::flush << "\n";
        stream << "warning: kept\n";
        stream << "\rWriting [#   ] 2/8" << std::flush << "Write stopped.\n";
    }
    const std::vector<std::string> lines = Lines(err.str());
    ASSERT_EQ(lines.size(), 2u) << err.str();
    EXPECT_EQ(S(Objects(lines[0], "warning").at(0), "message") + "|" +
                  S(Objects(lines[1], "error").at(0), "message"),
              "kept|Write stopped.");
}
