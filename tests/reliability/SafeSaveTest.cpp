// A settings file or export that cannot be written completely never damages the file that was
// there: not when the disk refuses part of it, and not when the program dies half-way.
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    TDevices devices{store};
    TSettings* tree = nullptr;

    void SetUp() override {
        devices.LoadFromFile(SourcePath("data/Devices.xml"));
        tree = devices.Devices.at(0)->Settings.get();
        store.Reset();
        tree->RegisterWithStore();
        tree->RestoreDefaults();
    }

    // The type of what `path` names, the link itself when it is one: S_IFIFO, S_IFLNK, ...
    static mode_t TypeOf(const std::string& path) {
        struct stat status {};
        return lstat(path.c_str(), &status) == 0 ? (status.st_mode & S_IFMT) : 0;
    }

    QStringList EverythingInDir() const {
        return QDir(QString::fromStdString(dir.Path("")))
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QStringList FilesInDir() const {
        return QDir(QString::fromStdString(dir.Path(""))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

// The message of what `call` raises, empty when it raises nothing.
template <class F> std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

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
    // The disk's own reason, as a full disk would give "No space left on device".
    const std::string reason = std::strerror(EFBIG);
    EXPECT_EQ(saveError, "Cannot create file \"" + settingsPath + "\". " + reason);
    EXPECT_EQ(exportError, "Cannot create file \"" + csvPath + "\". " + reason);
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

TEST_F(SafeSave, ASmallFileTheDiskCannotTakeIsNotSavedShort) {
    // A file of a few hundred bytes lies in the file's buffer until it is committed.
    TDevices small(store);
    small.LoadFromFile(dir.Write("Devices.xml", LineDefinitions(2, 2)));
    TSettings& line = *small.Devices.at(0)->Settings;
    line.RegisterWithStore();
    line.RestoreDefaults();
    const std::string settingsPath = dir.Write("line.rur", "kept\n");
    const std::string csvPath = dir.Write("line.csv", "kept\n");
    std::string saveError;
    std::string exportError;
    {
        TFileSizeLimit limit(32);
        try {
            line.SaveToFile(settingsPath);
        } catch (const std::exception& e) {
            saveError = e.what();
        }
        try {
            line.ExportCsv(csvPath);
        } catch (const std::exception& e) {
            exportError = e.what();
        }
    }
    EXPECT_EQ(saveError, "Cannot create file \"" + settingsPath + "\". " + std::strerror(EFBIG));
    EXPECT_EQ(exportError, "Cannot create file \"" + csvPath + "\". " + std::strerror(EFBIG));
    EXPECT_EQ(ReadFileText(settingsPath), "kept\n");
    EXPECT_EQ(ReadFileText(csvPath), "kept\n");
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

TEST_F(SafeSave, ATargetThatIsNoRegularFileIsRefusedAndLeftAsItWas) {
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string fifoLink = dir.Path("fifo-link.rur");
    ASSERT_EQ(symlink(fifo.c_str(), fifoLink.c_str()), 0);
    const std::string folder = dir.Path("folder.csv");
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(folder)));
    struct TCase {
        std::string path;
        std::string what;
    };
    const QStringList before = EverythingInDir();
    for (const TCase& c : {TCase{fifo, "a FIFO"}, TCase{fifoLink, "a FIFO"}, TCase{folder, "a directory"}}) {
        SCOPED_TRACE(c.path);
        const std::string message =
            "Cannot create file \"" + c.path + "\". It is " + c.what + ", not a regular file.";
        EXPECT_EQ(ErrorOf([&] { tree->SaveToFile(c.path); }), message);
        EXPECT_EQ(ErrorOf([&] { tree->ExportCsv(c.path); }), message);
    }
    EXPECT_EQ(TypeOf(fifo), S_IFIFO);
    EXPECT_EQ(TypeOf(fifoLink), S_IFLNK);
    EXPECT_EQ(TypeOf(folder), S_IFDIR);
    EXPECT_EQ(EverythingInDir(), before) << "something was created beside them";

    // A link to a regular file writes the file and stays a link.
    const std::string file = dir.Write("unit.rur", "old\n");
    const std::string fileLink = dir.Path("link.rur");
    ASSERT_EQ(symlink(file.c_str(), fileLink.c_str()), 0);
    tree->SaveToFile(fileLink);
    EXPECT_EQ(TypeOf(fileLink), S_IFLNK);
    EXPECT_EQ(ReadFileText(file).rfind("<?xml", 0), 0u);
}
