// main() of every test program: a QApplication on the offscreen platform (also when the test
// list is discovered outside CTest's environment), user settings in a private folder, and user
// data (the record of writes among them) in a private folder of each test's own.
#include "app/Application.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The record of writes says which unit owes a commit by its port's name, and tests reuse
// pseudo-terminal names: what one test leaves on record must not reach the next.
class TFreshDataFolder : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        FData = std::make_unique<QTemporaryDir>();
        setenv("XDG_DATA_HOME", FData->path().toLocal8Bit().constData(), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> FData;
};

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QTemporaryDir data;
    setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    TApplication application(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TFreshDataFolder);
    return RUN_ALL_TESTS();
}
