#include "app/Devicechoice.h"

#include "definitions/Devices.h"

#include <QComboBox>

void FillDeviceList(const TDevices& devices, QComboBox* comboBox) {
    comboBox->clear();
    for (const auto& device : devices.Devices)
        comboBox->addItem(QString::fromStdString(device->Name));
}
