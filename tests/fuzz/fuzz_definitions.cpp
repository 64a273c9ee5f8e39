// Feeds arbitrary bytes to the definition-file loader: the catalogue and every settings tree.
// Every device type that loaded is then opened as offline editing opens it (registered with an
// emptied image, defaults restored, values taken back), so a file that loads but describes
// impossible registers is exercised too. Any exception is a refused file; anything else (a
// crash, a sanitizer report) is a bug.
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    (void)application;
    static TRegisterDataStore* store = new TRegisterDataStore();

    static const std::string path = "/tmp/dezadizi-fuzz-definitions-" + std::to_string(getpid()) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    // A catalogue of its own numbers afresh, as a new run of the program would.
    TDevices devices(*store);
    try {
        devices.LoadFromFile(path);
    } catch (const std::exception&) {
    }
    // The catalogue keeps what loaded before a failure, and the window offers it.
    for (const auto& device : devices.Devices) {
        if (!device->Settings)
            continue;
        try {
            store->Reset();
            device->Settings->RegisterWithStore();
            device->Settings->RestoreDefaults();
            device->Settings->TakeValuesFromStore();
        } catch (const std::exception&) {
        }
    }
    store->Reset();
    return 0;
}
