// "dezadizi-cli diff": settings files, the defaults and a unit compared by named setting, with
// diff(1)'s exit statuses.
#include "sim/SimProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TCliRun Diff(QStringList arguments) {
    arguments.prepend("diff");
    arguments << "-d" << QString::fromStdString(SourcePath("data/Devices.xml"));
    return RunCliProcess(arguments);
}

// The AHU's defaults with its fan's minimum speed and the display units changed.
std::string EditedFile(const TTempDir& dir) {
    const std::string defaults = dir.Path("defaults.rur");
    EXPECT_EQ(RunCliProcess({"defaults", "id:17", "-o", QString::fromStdString(defaults), "-d",
                             QString::fromStdString(SourcePath("data/Devices.xml"))})
                  .code,
              0);
    std::string text = ReadFileText(defaults);
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{R"(ID="7" value="20")", R"(ID="7" value="35")"},
          {R"(ID="1" value="0")", R"(ID="1" value="1")"}}) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
    }
    return dir.Write("edited.rur", text);
}

} // namespace

TEST(CliDiff, ExitStatusesAndOutputAsDiffHasThem) {
    TTempDir dir;
    const QString edited = QString::fromStdString(EditedFile(dir));

    const TCliRun same = Diff({"id:17", "defaults", "defaults"});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.out, "");

    const TCliRun different = Diff({"id:17", "defaults", edited});
    EXPECT_EQ(different.code, 1) << different.err;
    EXPECT_EQ(different.out, "Unit Settings\tDisplay Units\tm/sec\tft/min\n"
                             "Unit Settings\tSupply Fan Minimum Speed\t20 %\t35 %\n");

    const TCliRun csv = Diff({"id:17", edited, "defaults", "--csv"});
    EXPECT_EQ(csv.code, 1) << csv.err;
    EXPECT_EQ(csv.out, "Group,Setting,A,B\r\n"
                       "Unit Settings,Display Units,ft/min,m/sec\r\n"
                       "Unit Settings,Supply Fan Minimum Speed,35 %,20 %\r\n");

    // Trouble: nothing on standard output, the message on standard error.
    const TCliRun missing = Diff({"id:17", "defaults", QString::fromStdString(dir.Path("none.rur"))});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("none.rur"), std::string::npos) << missing.err;

    const TCliRun otherType = Diff({"id:18", "defaults", edited});
    EXPECT_EQ(otherType.code, 2);
    EXPECT_NE(otherType.err.find("This settings file has been created for a different type of device."),
              std::string::npos)
        << otherType.err;

    EXPECT_EQ(Diff({"id:17", "defaults"}).code, 2);
}

TEST(CliDiff, ComparesTheUnitReadNow) {
    TTempDir dir;
    TSimProcess sim({"--device-id", "17"}, dir.Path("config"));
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    const QString edited = QString::fromStdString(EditedFile(dir));
    const QString unit = QString::fromStdString("unit:" + sim.Port());
    const TCliRun written = RunCliProcess({"write", QString::fromStdString(sim.Port()), edited, "-d",
                                           QString::fromStdString(SourcePath("data/Devices.xml"))});
    ASSERT_EQ(written.code, 0) << written.err;

    // The display units are the engineer's choice, which the unit keeps as it was read.
    const TCliRun holds = Diff({"id:17", unit, edited});
    EXPECT_EQ(holds.code, 1) << holds.err;
    EXPECT_EQ(holds.out, "Unit Settings\tDisplay Units\tm/sec\tft/min\n");

    const TCliRun changed = Diff({"id:17", "defaults", unit});
    EXPECT_EQ(changed.code, 1) << changed.err;
    EXPECT_EQ(changed.out, "Unit Settings\tSupply Fan Minimum Speed\t20 %\t35 %\n");

    const TCliRun otherType = Diff({"id:18", "defaults", unit});
    EXPECT_EQ(otherType.code, 2);
    EXPECT_EQ(otherType.out, "");
    EXPECT_NE(otherType.err.find("Z7E AHU Interface"), std::string::npos) << otherType.err;
}
