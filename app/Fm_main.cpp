#include "app/Fm_main.h"

#include "app/Application.h"
#include "model/Devices.h"

#include <QCoreApplication>
#include <QDir>

TfmMain::TfmMain(QWidget* parent) : QMainWindow(parent), FDevices(std::make_unique<TDevices>()) {
    setObjectName("fmMain");
    setWindowTitle("Dezadizi (Z7E) Configuration Manager");
    resize(1000, 723);
    FormCreate();
}

TfmMain::~TfmMain() = default;

std::string TfmMain::DefinitionPath() {
    return QDir(QCoreApplication::applicationDirPath()).filePath("Devices.xml").toStdString();
}

void TfmMain::FormCreate() {
    // A load error is reported and the window opens with the device types read before it.
    RunGuarded([this] { FDevices->LoadFromFile(DefinitionPath()); });
}
