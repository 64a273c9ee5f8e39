// A settings file or export that cannot be written completely never damages the file that was
// there: not when the disk refuses part of it, and not when the program dies half-way.
#include "modbus/Registerdatastore.h"
#include "model/Device.h"
#include "model/Devices.h"
#include "model/Settings.h"
#include "settings/Storeaccess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

// Files larger than `bytes` cannot be written while it lives: writes beyond fail with EFBIG, as
// on a full disk (the signal that would kill the process is ignored meanwhile).
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &FPrevious);
        FPreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FPrevious;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FPrevious);
        std::signal(SIGXFSZ, FPreviousHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FPrevious{};
    void (*FPreviousHandler)(int) = nullptr;
};

struct SafeSave : ::testing::Test {
    TTempDir dir;
    TRegisterDataStore store;
    TRegisterDataStore* previous = nullptr;
    TDevices devices;
    TSettings* tree = nullptr;

    void SetUp() override {
        previous = SetRegisterDataStore(&store);
        devices.LoadFromFile(SourcePath("data/Devices.xml"));
        tree = devices.Devices.at(0)->Settings.get();
        store.Reset();
        tree->RegisterWithStore();
        tree->RestoreDefaults();
    }
    void TearDown() override { SetRegisterDataStore(previous); }

    QStringList FilesInDir() const {
        return QDir(QString::fromStdString(dir.Path(""))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

} // namespace

TEST_F(SafeSave, AWriteThatFailsHalfWayLeavesTheOldFileWhole) {
    const std::string settingsPath = dir.Write("unit.rur", "the settings saved last week\n");
    const std::string csvPath = dir.Write("unit.csv", "Setting Name,Value\r\nold,1\r\n");
    const QStringList before = FilesInDir();
    std::string saveError;
    std::string exportError;
    {
        // The whole file is tens of kilobytes; 4 KiB of it fit.
        TFileSizeLimit limit(4096);
        try {
            tree->SaveToFile(settingsPath);
        } catch (const std::exception& e) {
            saveError = e.what();
        }
        try {
            tree->ExportCsv(csvPath);
        } catch (const std::exception& e) {
            exportError = e.what();
        }
    }
    EXPECT_EQ(saveError.rfind("Cannot create file \"" + settingsPath + "\". ", 0), 0u) << saveError;
    EXPECT_EQ(exportError.rfind("Cannot create file \"" + csvPath + "\". ", 0), 0u) << exportError;
    EXPECT_EQ(ReadFileText(settingsPath), "the settings saved last week\n");
    EXPECT_EQ(ReadFileText(csvPath), "Setting Name,Value\r\nold,1\r\n");
    EXPECT_EQ(FilesInDir(), before) << "a temporary file was left behind";

    // Once the disk takes it, the same save replaces the file completely.
    tree->SaveToFile(settingsPath);
    tree->ExportCsv(csvPath);
    EXPECT_GT(ReadFileText(settingsPath).size(), 4096u);
    EXPECT_EQ(ReadFileText(settingsPath).rfind("<?xml", 0), 0u);
    EXPECT_EQ(ReadFileText(csvPath).rfind("Setting Name,Value\r\n", 0), 0u);
    EXPECT_EQ(FilesInDir(), before);
}

TEST_F(SafeSave, AProgramKilledWhileSavingLeavesTheOldFileWhole) {
    // The tool is killed by the kernel (SIGXFSZ) the moment its file passes 4 KiB.
    for (const char* name : {"unit.rur", "unit.csv"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.Write(name, "kept\n");
        QProcess process;
        process.start("/bin/sh",
                      {"-c", "ulimit -f 4; exec \"$0\" defaults '#0' -o \"$1\" -d \"$2\"",
                       QString::fromStdString(BinPath("dezadizi-cli")), QString::fromStdString(path),
                       QString::fromStdString(SourcePath("data/Devices.xml"))});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << "the tool was expected to die half-way";
        EXPECT_EQ(ReadFileText(path), "kept\n");
    }
}
