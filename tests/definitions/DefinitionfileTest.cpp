#include "definitions/Definitionfile.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Sets an environment variable for one test and puts the old value back.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::optional<std::string>& value) : FName(name) {
        if (const char* old = std::getenv(name))
            FOld = old;
        Set(value);
    }
    ~TScopedEnv() { Set(FOld); }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(FName, value->c_str(), 1);
        else
            ::unsetenv(FName);
    }
    const char* FName;
    std::optional<std::string> FOld;
};

const char* const OneType =
    "<rur><device name=\"Found\" device_id=\"5\" live_status_id=\"0\" settings_id=\"1\"/>"
    "<settings settings_id=\"1\"/></rur>";

struct DefinitionLookup : ::testing::Test {
    TTempDir dir;
    std::string exeDir = Folder("bin");
    std::string home = Folder("home");
    std::string first = Folder("first");
    std::string second = Folder("second");
    TScopedEnv dataHome{"XDG_DATA_HOME", home};
    TScopedEnv dataDirs{"XDG_DATA_DIRS", first + ":" + second};

    std::string Folder(const std::string& name) const {
        QDir().mkpath(QString::fromStdString(dir.Path(name + "/dezadizi")));
        return dir.Path(name);
    }
    static std::string In(const std::string& folder) { return folder + "/dezadizi/Devices.xml"; }
    static void Place(const std::string& path) { std::ofstream(path) << OneType; }
};

} // namespace

TEST_F(DefinitionLookup, NextToTheProgramFirstThenDataHomeThenEachDataFolder) {
    EXPECT_EQ(DefinitionFileCandidates(exeDir),
              (std::vector<std::string>{exeDir + "/Devices.xml", In(home), In(first), In(second)}));

    Place(In(second));
    EXPECT_EQ(FindDefinitionFile(exeDir), In(second));
    Place(In(first));
    EXPECT_EQ(FindDefinitionFile(exeDir), In(first));
    Place(In(home));
    EXPECT_EQ(FindDefinitionFile(exeDir), In(home));
    Place(exeDir + "/Devices.xml");
    EXPECT_EQ(FindDefinitionFile(exeDir), exeDir + "/Devices.xml");
}

TEST_F(DefinitionLookup, NothingFoundNamesThePathTriedLast) {
    const std::string path = FindDefinitionFile(exeDir);
    EXPECT_EQ(path, In(second));
    TRegisterDataStore devicesStore;
    TDevices devices(devicesStore);
    try {
        devices.LoadFromFile(path);
        FAIL() << "loaded a file that does not exist";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "Could not find XML document : " + In(second));
    }
}

TEST_F(DefinitionLookup, UnsetVariablesFallBackToTheXdgDefaults) {
    TScopedEnv noHome{"XDG_DATA_HOME", std::nullopt};
    TScopedEnv noDirs{"XDG_DATA_DIRS", std::nullopt};
    const std::vector<std::string> candidates = DefinitionFileCandidates(exeDir);
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[1], QDir::homePath().toStdString() + "/.local/share/dezadizi/Devices.xml");
    EXPECT_EQ(candidates[2], "/usr/local/share/dezadizi/Devices.xml");
    EXPECT_EQ(candidates[3], "/usr/share/dezadizi/Devices.xml");
}
