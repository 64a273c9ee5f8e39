#include "Version.h"
#include "app/Application.h"
#include "app/Fm_main.h"

#include <QApplication>
#include <QIcon>
#include <cstring>
#include <iostream>
#include <memory>

namespace {

const char* const UsageText = "usage: dezadizi-config [--help | --version]\n"
                              "The Dezadizi (Z7E) Configuration Manager window.\n"
                              "options:\n"
                              "  --help      show this text\n"
                              "  --version   show the program's version\n";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before the application starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << UsageText;
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "dezadizi-config " << DezVersion << "\n";
            return 0;
        }
    }
    TApplication application(argc, argv);
    QApplication::setApplicationName("Dezadizi (Z7E) Configuration");
    QApplication::setApplicationVersion(QString::fromLatin1(DezVersion));
    // Lets the desktop match the window to its launcher entry and icon.
    QGuiApplication::setDesktopFileName("dezadizi-config");
    QApplication::setWindowIcon(QIcon::fromTheme("dezadizi-config"));
    std::unique_ptr<TfmMain> window;
    RunGuarded([&] {
        window = std::make_unique<TfmMain>();
        window->show();
    });
    if (window)
        QApplication::exec();
    return 0;
}
