#include "Cli.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

struct TRun {
    int code;
    std::string out;
    std::string err;
};

TRun Check(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    std::vector<std::string> all{"check"};
    all.insert(all.end(), args.begin(), args.end());
    const int code = RunCli(all, SourcePath("data"), out, err);
    return {code, out.str(), err.str()};
}

} // namespace

TEST(CliCheck, PrintsEachFindingAtItsLineThenTheCountsAndFailsOnErrors) {
    TTempDir dir;
    const std::string path =
        dir.Write("defs.xml",
                  "<?xml version=\"1.0\"?>\n<rur>\n"
                  "<device name=\"Unit\" device_id=\"1\" live_status_id=\"0\" settings_id=\"1\"/>\n"
                  "<settings settings_id=\"1\">\n<group name=\"G\" description=\"d\">\n"
                  "<setting value_type=\"int\" name=\"A\" register=\"1\" type=\"holding_register\" min=\"0\" "
                  "max=\"9\" default=\"12\" value_text=\"\" exclusiongroup=\"2\"/>\n"
                  "</group>\n</settings>\n</rur>\n");
    const TRun found = Check({"-d", path});
    EXPECT_EQ(found.code, cliFailed);
    EXPECT_EQ(found.out, path + ":6: error: setting 'A': default 12 is outside its limits 0 to 9\n" + path +
                             ":6: warning: exclusion group 2 has only one member, setting 'A'\n"
                             "1 errors, 1 warnings\n");

    // The bundled file, which CI checks too; warnings alone would still succeed.
    const TRun bundled = Check({});
    EXPECT_EQ(bundled.code, cliOk) << bundled.out;
    EXPECT_EQ(bundled.out, "0 errors, 0 warnings\n");

    const std::string missing = dir.Path("none.xml");
    const TRun absent = Check({"-d", missing});
    EXPECT_EQ(absent.code, cliFailed);
    EXPECT_EQ(absent.out,
              missing + ": error: Could not find XML document : " + missing + "\n1 errors, 0 warnings\n");

    EXPECT_EQ(Check({"extra"}).code, cliUsage);
    EXPECT_EQ(Check({"-o", dir.Path("x")}).code, cliUsage);
}
