// "--json": every line an object of its own, parsed here by Qt's parser line by line and held
// against what the same command prints for people.
#include "Cli.h"
#include "features/History.h"
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

struct TRun {
    int code;
    std::string out;
    std::string err;
};

TRun Cli(std::vector<std::string> args) {
    args.push_back("-d");
    args.push_back(SourcePath("data/Devices.xml"));
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

// Each line parsed on its own; every object carries the schema and the kind expected.
std::vector<QJsonObject> Objects(const std::string& text, const std::string& kind) {
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(text)) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(document.isObject()) << line;
        const QJsonObject object = document.object();
        EXPECT_EQ(object.value("schema").toInt(), 1) << line;
        if (object.value("kind").toString().toStdString() == kind)
            objects.push_back(object);
        else
            ADD_FAILURE() << "not a " << kind << ": " << line;
    }
    return objects;
}

std::string S(const QJsonObject& object, const char* key) {
    return object.value(key).toString().toStdString();
}

// A setting's or a difference's place in the tree.
std::string Key(const QJsonObject& object) {
    return std::to_string(object.value("group_index").toInt(-1)) + "/" +
           std::to_string(object.value("entry_index").toInt(-1));
}

// Every setting by its place.
std::map<std::string, QJsonObject> ByName(const std::vector<QJsonObject>& settings) {
    std::map<std::string, QJsonObject> named;
    for (const QJsonObject& setting : settings)
        EXPECT_TRUE(named.emplace(Key(setting), setting).second) << Key(setting);
    return named;
}

} // namespace

TEST(CliJson, DevicesSettingsAndDifferencesMatchTheHumanOutput) {
    const TRun devices = Cli({"devices", "--json"});
    ASSERT_EQ(devices.code, cliOk) << devices.err;
    const std::vector<std::string> human = Lines(Cli({"devices"}).out);
    const std::vector<QJsonObject> types = Objects(devices.out, "device");
    ASSERT_EQ(types.size(), human.size());
    for (size_t i = 0; i < types.size(); ++i) {
        const QJsonObject& t = types[i];
        EXPECT_EQ(std::to_string(t.value("position").toInt()) + "\t" +
                      std::to_string(t.value("device_id").toInt()) + "\t" +
                      std::to_string(t.value("settings_id").toInt()) + "\t" + S(t, "name"),
                  human[i]);
    }

    // A changed file against the defaults: the differences are exactly the settings whose
    // stored words differ, with the texts the two settings lists show.
    TTempDir dir;
    const std::string changed = SourcePath("tests/data/golden/changed0.in.rur");
    const std::string saved = dir.Path("saved.rur");
    const TRun defaults = Cli({"defaults", "#0", "--json"});
    const TRun convert = Cli({"convert", "#0", changed, "-o", saved, "--json"});
    ASSERT_EQ(convert.code, cliOk) << convert.err;
    EXPECT_EQ(ReadFileText(saved), ReadFileText(SourcePath("tests/data/golden/changed0.rur")));
    const auto before = ByName(Objects(defaults.out, "setting"));
    const auto after = ByName(Objects(convert.out, "setting"));
    ASSERT_EQ(before.size(), after.size());
    ASSERT_GT(before.size(), 100u);

    const TRun diff = Cli({"diff", "#0", "defaults", saved, "--json"});
    EXPECT_EQ(diff.code, 1) << diff.err;
    const std::vector<std::string> rows = Lines(Cli({"diff", "#0", "defaults", saved}).out);
    const std::vector<QJsonObject> differences = Objects(diff.out, "difference");
    ASSERT_EQ(differences.size(), rows.size());
    ASSERT_FALSE(rows.empty());
    size_t differing = 0;
    for (const auto& [key, setting] : before)
        differing += after.at(key).value("words") != setting.value("words") ? 1 : 0;
    EXPECT_EQ(differing, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const QJsonObject& d = differences[i];
        EXPECT_EQ(S(d, "group") + "\t" + S(d, "setting") + "\t" + S(d, "a") + "\t" + S(d, "b"), rows[i]);
        EXPECT_EQ(S(before.at(Key(d)), "name"), S(d, "setting"));
        EXPECT_EQ(S(before.at(Key(d)), "text"), S(d, "a"));
        EXPECT_EQ(S(after.at(Key(d)), "text"), S(d, "b"));
    }
}

TEST(CliJson, CheckGivesItsFindingsThenTheCounts) {
    TTempDir dir;
    const std::string path =
        dir.Write("defs.xml",
                  "<?xml version=\"1.0\"?>\n<rur>\n"
                  "<device name=\"Unit\" device_id=\"1\" live_status_id=\"0\" settings_id=\"1\"/>\n"
                  "<settings settings_id=\"1\">\n<group name=\"G\" description=\"d\">\n"
                  "<setting value_type=\"int\" name=\"A\" register=\"1\" type=\"holding_register\" min=\"0\" "
                  "max=\"9\" default=\"12\" value_text=\"\" exclusiongroup=\"2\"/>\n"
                  "</group>\n</settings>\n</rur>\n");
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunCli({"check", "-d", path, "--json"}, SourcePath("data"), out, err), cliFailed);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 3u) << out.str();
    const std::vector<QJsonObject> findings = Objects(lines[0] + "\n" + lines[1], "finding");
    EXPECT_EQ(findings[0].value("line").toInt(), 6);
    EXPECT_EQ(S(findings[0], "severity"), "error");
    EXPECT_EQ(S(findings[0], "message"), "setting 'A': default 12 is outside its limits 0 to 9");
    EXPECT_EQ(S(findings[1], "severity"), "warning");
    const QJsonObject result = Objects(lines[2], "result").at(0);
    EXPECT_EQ(S(result, "outcome"), "failed");
    EXPECT_EQ(result.value("errors").toInt(), 1);
    EXPECT_EQ(result.value("warnings").toInt(), 1);
}

TEST(CliJson, ErrorsAndWarningsAreObjectsOnStandardErrorAndAFailurePrintsNothing) {
    TTempDir dir;
    const TRun missing = Cli({"convert", "#0", dir.Path("none.rur"), "--json"});
    EXPECT_EQ(missing.code, Cli({"convert", "#0", dir.Path("none.rur"), "-o", dir.Path("x.rur")}).code);
    EXPECT_EQ(missing.code, cliFailed);
    EXPECT_EQ(missing.out, "");
    const std::vector<QJsonObject> errors = Objects(missing.err, "error");
    ASSERT_EQ(errors.size(), 1u) << missing.err;
    EXPECT_NE(S(errors[0], "message").find("none.rur"), std::string::npos);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"defaults", "#0", "-o", "-", "--json"},
          {"diff", "#0", "defaults", "defaults", "--csv", "--json"}}) {
        const TRun usage = Cli(args);
        EXPECT_EQ(usage.code, cliUsage) << args[0];
        EXPECT_EQ(usage.out, "");
        EXPECT_EQ(Objects(usage.err, "error").size(), 1u) << usage.err;
    }
}

// The record's entries as objects, with a device type and a value that need escaping.
TEST(CliJson, HistoryEntriesRoundTripNonAsciiAndControlCharacters) {
    TTempDir dir;
    const std::string old = std::getenv("XDG_DATA_HOME") != nullptr ? std::getenv("XDG_DATA_HOME") : "";
    ::setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
    THistoryEntry entry;
    entry.Time = "2026-01-02T03:04:05Z";
    entry.Port = "COM3";
    entry.Address = 7;
    entry.DeviceId = 17;
    entry.DeviceType = "Zone \xc3\xbc\xe2\x86\x92 \"north\"\\";
    entry.Result = "verified";
    entry.Changes.push_back({"G\x01", "Name\ttab", "a\nb", "\xe6\x97\xa5", ""});
    ASSERT_EQ(AppendHistoryEntry(HistoryPath(), entry), "");
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli({"history", "--json"}, SourcePath("data"), out, err);
    ::setenv("XDG_DATA_HOME", old.c_str(), 1);
    ASSERT_EQ(code, cliOk) << err.str();
    EXPECT_EQ(err.str(), "");
    // Non-ASCII as itself, control characters escaped: one line, nothing below a space.
    ASSERT_EQ(Lines(out.str()).size(), 1u);
    EXPECT_NE(out.str().find("\xc3\xbc\xe2\x86\x92"), std::string::npos);
    for (const char c : out.str().substr(0, out.str().size() - 1))
        EXPECT_GE(static_cast<unsigned char>(c), 0x20u);
    const QJsonObject object = Objects(out.str(), "entry").at(0);
    EXPECT_EQ(S(object, "deviceType"), entry.DeviceType);
    EXPECT_EQ(object.value("address").toInt(), 7);
    const QJsonObject change = object.value("changes").toArray().at(0).toObject();
    EXPECT_EQ(S(change, "group"), "G\x01");
    EXPECT_EQ(S(change, "setting"), "Name\ttab");
    EXPECT_EQ(S(change, "before"), "a\nb");
    EXPECT_EQ(S(change, "after"), "\xe6\x97\xa5");
}

TEST(CliJson, ReadGivesTheSettingsOfTheFileItSaves) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const std::string saved = dir.Path("read.rur");
    const TCliRun read = RunBuiltCli({"read", sim.Port(), "-o", saved, "--json"}, 60000);
    ASSERT_EQ(read.code, cliOk) << read.err;
    const std::vector<QJsonObject> settings = Objects(read.out, "setting");
    ASSERT_GT(settings.size(), 100u);
    const TRun convert = Cli({"convert", "id:17", saved, "--allow-out-of-range", "--json"});
    ASSERT_EQ(convert.code, cliOk) << convert.err;
    const auto file = ByName(Objects(convert.out, "setting"));
    for (const QJsonObject& setting : settings) {
        const auto found = file.find(Key(setting));
        ASSERT_NE(found, file.end()) << Key(setting);
        EXPECT_EQ(found->second, setting);
    }
}
