// Feeds arbitrary bytes to the settings-file loader. The trees are those of the bundled
// definition file, built once as the program builds them at start-up (groups and settings are
// numbered from 0), so seeds saved by `dezadizi-cli defaults` reach deep into every group.
// Any exception is a refused file; anything else (a crash, a sanitizer report) is a bug, and so
// is a file that loaded but, saved again, is not well-formed XML or does not load again.
#include "../support/StrictXml.h"
#include "definitions/Devices.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

struct TFixture {
    TFixture() {
        try {
            Devices.LoadFromFile(DEZ_SOURCE_DIR "/data/Devices.xml");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cannot load the bundled definitions: %s\n", e.what());
            std::abort();
        }
    }
    TRegisterDataStore Store;
    TDevices Devices{Store};
};

// What a loaded file leaves in the tree is saved again; any XML 1.0 parser must accept that file
// (pugixml alone would take a control character written as &#3;), and it must load again.
void CheckSavedAgain(TSettings& tree, const std::string& savedPath) {
    std::string error;
    std::string text;
    try {
        tree.SaveToFile(savedPath);
        std::ifstream in(savedPath, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        text = content.str();
        error = StrictXmlError(text);
        if (error.empty())
            tree.LoadFromFile(savedPath);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty()) {
        std::fprintf(stderr, "a saved file does not read again: %s\n%s\n", error.c_str(), text.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    (void)application;
    static TFixture* fixture = new TFixture();

    static const std::string path = "/tmp/dezadizi-fuzz-settings-" + std::to_string(getpid()) + ".rur";
    static const std::string savedPath = "/tmp/dezadizi-fuzz-saved-" + std::to_string(getpid()) + ".rur";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    // The name check comes first, so only the device type the file names is worth opening; the
    // first one also meets every file that names none.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (size_t i = 0; i < fixture->Devices.Devices.size(); ++i) {
        TDevice& device = *fixture->Devices.Devices[i];
        if (i != 0 && text.find("\"" + device.Name + "\"") == std::string_view::npos)
            continue;
        try {
            // As offline editing opens a device type: an emptied image, registrations, defaults.
            fixture->Store.Reset();
            device.Settings->RegisterWithStore();
            device.Settings->RestoreDefaults();
            device.Settings->LoadFromFile(path);
        } catch (const std::exception&) {
            continue;
        }
        CheckSavedAgain(*device.Settings, savedPath);
        // The load by names, with every value its register holds allowed, walks the file apart.
        try {
            device.Settings->LoadFromFile(path, {true, true});
        } catch (const std::exception&) {
        }
    }
    return 0;
}
