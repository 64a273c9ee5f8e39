#include "app/Application.h"
#include "app/Fm_main.h"

#include <QApplication>
#include <QIcon>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Dezadizi (Z7E) Configuration");
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
