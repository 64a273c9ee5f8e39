// Feeds arbitrary bytes to the definition-file loader: the catalogue and every settings tree.
// Any exception is a refused file; anything else (a crash, a sanitizer report) is a bug.
#include "model/Devices.h"
#include "modbus/Registerdatastore.h"

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

    static const std::string path = "/tmp/dezadizi-fuzz-definitions-" + std::to_string(getpid()) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    try {
        TDevices devices;
        devices.LoadFromFile(path);
    } catch (const std::exception&) {
    }
    return 0;
}
