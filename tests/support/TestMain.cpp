// main() of every test program: a QApplication on the offscreen platform (also when the test
// list is discovered outside CTest's environment), user settings and data (the record of
// writes among them) in private folders.
#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QTemporaryDir data;
    setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
