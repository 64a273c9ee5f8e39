#include "CliOffline.h"
#include "definitions/Devices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

struct TRun {
    int code;
    std::string out;
    std::string err;
};

TRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli(args, SourcePath("data"), out, err);
    return {code, out.str(), err.str()};
}

const char* const Devices[] = {"Z7E AHU Interface", "Z7E Fan Coil Interface", "Z7E VAV Zone Interface"};

} // namespace

TEST(CliOffline, DefaultsAndConvertOfEveryBundledDeviceTypeAreStable) {
    TTempDir dir;
    for (int i = 0; i < 3; ++i) {
        const std::string name = Devices[i];
        const std::string first = dir.Path("first" + std::to_string(i) + ".rur");
        const std::string second = dir.Path("second" + std::to_string(i) + ".rur");
        const std::string third = dir.Path("third" + std::to_string(i) + ".RUR");
        ASSERT_EQ(Cli({"defaults", name, "-o", first}).code, cliOk) << name;
        const TRun convert = Cli({"convert", "#" + std::to_string(i), first, "-o", second});
        ASSERT_EQ(convert.code, cliOk) << convert.err;
        ASSERT_EQ(Cli({"convert", name, second, "-o", third}).code, cliOk);
        // save -> load -> save gives identical files
        EXPECT_EQ(ReadFileText(first), ReadFileText(second)) << name;
        EXPECT_EQ(ReadFileText(second), ReadFileText(third)) << name;
        EXPECT_NE(ReadFileText(first).find("<device name=\"" + name + "\""), std::string::npos);

        const std::string csv = dir.Path("export" + std::to_string(i) + ".Csv");
        ASSERT_EQ(Cli({"convert", "id:" + std::to_string(17 + i), first, "-o", csv}).code, cliOk);
        const std::string text = ReadFileText(csv);
        EXPECT_EQ(text.rfind("Setting Name,Value\r\n", 0), 0u);
    }
    // The AHU's defaults in CSV: text, units selector, units, label, check box lines.
    const std::string csv = dir.Path("ahu.csv");
    ASSERT_EQ(Cli({"defaults", "#0", "-o", csv}).code, cliOk);
    const std::string text = ReadFileText(csv);
    for (const char* line :
         {"\r\nUnit Name,Z7E Unit\r\n", "\r\nDisplay Units,m/sec\r\n",
          "\r\nMinimum Supply Air Velocity,1.50 m/sec\r\n", "\r\nFrost Protection,Enabled\r\n",
          "\r\nService Interval,8760 hours\r\n", "\r\nTemplate Group,0\r\n", "\r\nGroup 50,0\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

// Files the tool wrote before the settings tree was restructured: the defaults of every bundled
// device type, and a changed file converted, as settings file and as CSV, byte for byte.
TEST(CliOffline, OutputIsByteIdenticalToTheFilesOfEarlierVersions) {
    TTempDir dir;
    const std::string golden = SourcePath("tests/data/golden") + "/";
    for (int i = 0; i < 3; ++i)
        for (const std::string ext : {".rur", ".csv"}) {
            const std::string out = dir.Path("defaults" + std::to_string(i) + ext);
            ASSERT_EQ(Cli({"defaults", "#" + std::to_string(i), "-o", out}).code, cliOk);
            EXPECT_EQ(ReadFileText(out), ReadFileText(golden + "defaults" + std::to_string(i) + ext)) << out;
        }
    for (const std::string ext : {".rur", ".csv"}) {
        const std::string out = dir.Path("changed0" + ext);
        ASSERT_EQ(Cli({"convert", "#0", golden + "changed0.in.rur", "-o", out}).code, cliOk);
        EXPECT_EQ(ReadFileText(out), ReadFileText(golden + "changed0" + ext)) << out;
    }
}

TEST(CliOffline, ConvertAppliesTheFileOverTheDefaults) {
    TTempDir dir;
    const std::string defaults = dir.Path("d.rur");
    ASSERT_EQ(Cli({"defaults", "#0", "-o", defaults}).code, cliOk);
    std::string text = ReadFileText(defaults);
    const std::string from = "name=\"Supply Fan Minimum Speed\"";
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    const size_t value = text.find("value=\"20\"", at);
    ASSERT_NE(value, std::string::npos);
    text.replace(value, std::string("value=\"20\"").size(), "value=\"35\"");
    const std::string edited = dir.Write("e.rur", text);
    const std::string csv = dir.Path("e.csv");
    ASSERT_EQ(Cli({"convert", "#0", edited, "-o", csv}).code, cliOk);
    EXPECT_NE(ReadFileText(csv).find("\r\nSupply Fan Minimum Speed,35 %\r\n"), std::string::npos);
}

TEST(CliOffline, ErrorsAndUsage) {
    TTempDir dir;
    const std::string out = dir.Path("o.rur");
    const TRun unknown = Cli({"defaults", "No Such Unit", "-o", out});
    EXPECT_EQ(unknown.code, cliFailed);
    EXPECT_EQ(unknown.err, "Could not find device type 'No Such Unit' in the XML device definitions list\n");
    EXPECT_EQ(Cli({"defaults", "id:99", "-o", out}).err,
              "Could not find device with ID '99' in the XML device definitions list\n");
    EXPECT_EQ(Cli({"defaults", "#3", "-o", out}).code, cliFailed);
    const TRun wrongType = Cli({"defaults", "#0", "-o", out});
    ASSERT_EQ(wrongType.code, cliOk);
    const TRun mismatch = Cli({"convert", "#2", out, "-o", dir.Path("x.rur")});
    EXPECT_EQ(mismatch.code, cliFailed);
    EXPECT_EQ(mismatch.err,
              "Device name is not ' Z7E VAV Zone Interface.'\nThis settings file has been created for "
              "a different type of device.\n");
    EXPECT_EQ(Cli({"convert", "#0", dir.Path("missing.rur"), "-o", out}).code, cliFailed);
    EXPECT_EQ(Cli({"defaults", "#0", "-o", dir.Path("no/such/folder.rur")}).code, cliFailed);
    const TRun badDefinitions = Cli({"defaults", "#0", "-o", out, "-d", dir.Path("none.xml")});
    EXPECT_EQ(badDefinitions.err, "Could not find XML document : " + dir.Path("none.xml") + "\n");

    EXPECT_EQ(Cli({"defaults", "#0"}).code, cliUsage);
    EXPECT_EQ(Cli({"defaults", "-o", out}).code, cliUsage);
    EXPECT_EQ(Cli({"convert", "#0", "-o", out}).code, cliUsage);
    EXPECT_EQ(Cli({"convert", "#0", "a", "b", "-o", out}).code, cliUsage);
    EXPECT_EQ(Cli({"defaults", "#0", "-o"}).code, cliUsage);
    EXPECT_NE(Cli({"--help"}).out.find("convert DEVICE IN -o OUT"), std::string::npos);

    EXPECT_TRUE(IsCsvPath("a.CSV"));
    EXPECT_TRUE(IsCsvPath("dir.x/a.cSv"));
    EXPECT_FALSE(IsCsvPath("a.csv.rur"));
    EXPECT_FALSE(IsCsvPath("acsv"));
}

TEST(CliOffline, StandardOutputAFifoAndADirectoryAsFiles) {
    TTempDir dir;
    // "-" is standard output, as for other command-line tools; the notice stays off it.
    const TRun toOut = Cli({"defaults", "#0", "-o", "-"});
    EXPECT_EQ(toOut.code, cliOk) << toOut.err;
    EXPECT_EQ(toOut.out.rfind("<?xml version=\"1.0\"?>\n<settings>\n", 0), 0u) << toOut.out.substr(0, 80);
    EXPECT_TRUE(toOut.out.ends_with("</settings>\n"));
    EXPECT_FALSE(QFile::exists("-"));
    QFile::remove("-");
    const std::string saved = dir.Path("saved.rur");
    ASSERT_EQ(Cli({"defaults", "#0", "-o", saved}).code, cliOk);
    EXPECT_TRUE(Cli({"convert", "#0", saved, "-o", "-"}).out == ReadFileText(saved));

    const std::string fifo = dir.Path("fifo.rur");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const TRun toFifo = Cli({"convert", "#0", saved, "-o", fifo});
    EXPECT_EQ(toFifo.code, cliFailed);
    EXPECT_EQ(toFifo.err, "Cannot create file \"" + fifo + "\". It is a FIFO, not a regular file.\n");
    struct stat status {};
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    const TRun fromFolder = Cli({"convert", "#0", dir.Path(""), "-o", dir.Path("x.rur")});
    EXPECT_EQ(fromFolder.code, cliFailed);
    EXPECT_EQ(fromFolder.err, "Cannot open file \"" + dir.Path("") +
                                  "\". It is a directory, not a regular file. Name a regular file.\n");
}

TEST(CliOffline, TheBuiltProgramRunsWithoutAWindowSystem) {
    TTempDir dir;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(environment);
    const std::string out = dir.Path("fan.csv");
    process.start(QString::fromStdString(BinPath("dezadizi-cli")),
                  {"defaults", "Z7E Fan Coil Interface", "-o", QString::fromStdString(out)});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(ReadFileText(out).rfind("Setting Name,Value\r\nUnit Name,Z7E Unit\r\n", 0), 0u);
}

TEST(CliOffline, TheToolsLinkNeitherQtWidgetsNorQtGui) {
    if (QStandardPaths::findExecutable("ldd").isEmpty())
        GTEST_SKIP() << "ldd is not installed";
    for (const char* program : {"dezadizi-cli", "dezadizi-sim"}) {
        QProcess ldd;
        ldd.start("ldd", {QString::fromStdString(BinPath(program))});
        ASSERT_TRUE(ldd.waitForFinished(60000)) << program;
        ASSERT_EQ(ldd.exitCode(), 0) << program << ": " << ldd.readAllStandardError().toStdString();
        const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        EXPECT_TRUE(libraries.contains("libQt6Core")) << program << " links:\n" << libraries.toStdString();
        EXPECT_FALSE(libraries.contains("libQt6Widgets")) << program << " links:\n"
                                                          << libraries.toStdString();
        EXPECT_FALSE(libraries.contains("libQt6Gui")) << program << " links:\n" << libraries.toStdString();
    }
}

namespace {

// The bundled definitions' defaults with one value replaced.
std::string DefaultsWith(const TTempDir& dir, const std::string& setting, const std::string& value) {
    const std::string defaults = dir.Path("defaults.rur");
    EXPECT_EQ(Cli({"defaults", "#0", "-o", defaults}).code, cliOk);
    std::string text = ReadFileText(defaults);
    const size_t at = text.find("name=\"" + setting + "\"");
    const size_t start = text.find("value=\"", at) + 7;
    text.replace(start, text.find('"', start) - start, value);
    return dir.Write("edited.rur", text);
}

} // namespace

TEST(CliOffline, ConvertRefusesValuesOutsideTheirRegisterAndAsksForConsentOutsideTheirLimits) {
    TTempDir dir;
    const std::string out = dir.Path("out.csv");
    const TRun wide = Cli({"convert", "#0", DefaultsWith(dir, "Supply Fan Minimum Speed", "-40000"), "-o",
                           out, "--allow-out-of-range"});
    EXPECT_EQ(wide.code, cliFailed);
    EXPECT_EQ(wide.err,
              "The value -40000 in the XML document does not fit the register of setting 'Supply Fan "
              "Minimum Speed' (Unit Settings, register 115)\n");

    const std::string outside = DefaultsWith(dir, "Supply Fan Minimum Speed", "150");
    const TRun refused = Cli({"convert", "#0", outside, "-o", out});
    EXPECT_EQ(refused.code, cliFailed);
    EXPECT_EQ(refused.err,
              "1 value in the file is outside its setting's limits:\n'Supply Fan Minimum Speed' (Unit "
              "Settings, register 115): 150 % (limits 0 to 100 %)\n--allow-out-of-range loads them "
              "anyway.\n");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out)));
    const TRun allowed = Cli({"convert", "#0", outside, "-o", out, "--allow-out-of-range"});
    ASSERT_EQ(allowed.code, cliOk) << allowed.err;
    EXPECT_EQ(allowed.err,
              "warning: Loaded outside its limits: 'Supply Fan Minimum Speed' (Unit Settings, register "
              "115): 150 % (limits 0 to 100 %)\n");
    EXPECT_NE(ReadFileText(out).find("\r\nSupply Fan Minimum Speed,150 %\r\n"), std::string::npos);
}

TEST(CliOffline, AFileSavedWithOtherDefinitionsLoadsOnlyByName) {
    TTempDir dir;
    const std::string saved = DefaultsWith(dir, "Supply Fan Minimum Speed", "35");
    const std::string bundled = ReadFileText(SourcePath("data/Devices.xml"));
    const auto line = [&](const std::string& name) {
        const size_t at = bundled.rfind('\n', bundled.find("name=\"" + name + "\"")) + 1;
        return bundled.substr(at, bundled.find('\n', at) + 1 - at);
    };
    // Two settings swapped; and two device types added before the others, numbering everything
    // after all of the file's groups.
    std::string swapped = bundled;
    const std::string minimum = line("Supply Fan Minimum Speed");
    const std::string maximum = line("Supply Fan Maximum Speed");
    swapped.replace(swapped.find(minimum + maximum), minimum.size() + maximum.size(), maximum + minimum);
    std::string added = bundled;
    for (const char* id : {"30", "31"}) {
        added.insert(added.find("  <device "), std::string("  <device name=\"New ") + id + "\" device_id=\"" +
                                                   id + "\" live_status_id=\"0\" settings_id=\"1\"/>\n");
    }
    const std::string hint = "The settings file was saved with other definitions; --by-name loads it by "
                             "group and setting names.\n";
    const std::vector<std::pair<std::string, std::string>> cases{
        {swapped,
         "Setting 'Supply Fan Maximum Speed' has the ID of setting 'Supply Fan Minimum Speed' in the XML "
         "document\n"},
        {added, "Could not find settings group 'Unit Settings' in the XML document\n"},
    };
    for (const auto& [definitions, message] : cases) {
        SCOPED_TRACE(message);
        const std::string file = dir.Write("Devices.xml", definitions);
        const std::string out = dir.Path("out.csv");
        QFile::remove(QString::fromStdString(out));
        const TRun refused = Cli({"convert", "Z7E AHU Interface", saved, "-o", out, "-d", file});
        EXPECT_EQ(refused.code, cliFailed);
        EXPECT_EQ(refused.err, message + hint);
        const TRun byName = Cli({"convert", "Z7E AHU Interface", saved, "-o", out, "-d", file, "--by-name"});
        ASSERT_EQ(byName.code, cliOk) << byName.err;
        EXPECT_EQ(byName.err,
                  "warning: By group and setting names: 0 settings of the file match nothing and are "
                  "skipped; 0 settings are not in the file and keep their values.\n");
        const std::string csv = ReadFileText(out);
        EXPECT_NE(csv.find("\r\nSupply Fan Minimum Speed,35 %\r\n"), std::string::npos);
        EXPECT_NE(csv.find("\r\nSupply Fan Maximum Speed,90 %\r\n"), std::string::npos);
    }
}
