#include "app/Application.h"
#include "app/Fm_main.h"

#include <QApplication>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Dezadizi (Z7E) Configuration");
    std::unique_ptr<TfmMain> window;
    RunGuarded([&] {
        window = std::make_unique<TfmMain>();
        window->show();
    });
    if (window)
        QApplication::exec();
    return 0;
}
