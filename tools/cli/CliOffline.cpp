#include "CliOffline.h"

#include "base/Convert.h"
#include "base/Errors.h"
#include "definitions/Devices.h"
#include "features/Jsonlines.h"
#include "modbus/Registerdatastore.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QJsonObject>
#include <QString>
#include <exception>
#include <ostream>

namespace {

// Loads the catalogue, opens the device type offline (defaults restored), optionally loads a
// settings file into it, and saves or exports the result.
int RunOffline(const TCliOptions& options, const std::string& device, const std::string* input,
               std::ostream& out, std::ostream& err) {
    // A catalogue of its own numbers groups and settings as a fresh run of the program does, so
    // the command's files fit the window program and each other.
    try {
        TRegisterDataStore store;
        TDevices devices(store);
        devices.LoadFromFile(options.definitionFile);
        TDevice* chosen = FindCliDevice(devices, device);
        TSettings& tree = *chosen->Settings;

        store.Reset();
        tree.RegisterWithStore();
        tree.RestoreDefaults();
        if (input != nullptr)
            LoadCliSettingsFile(tree, *input, options, err);

        if (!options.output.empty())
            SaveCliOutput(tree, options.output, out);
        if (options.json)
            PrintJson(JsonSettings(tree), out);
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
    return cliOk;
}

} // namespace

bool IsCsvPath(const std::string& path) {
    return QString::fromStdString(path).endsWith(".csv", Qt::CaseInsensitive);
}

void SaveCliOutput(const TSettings& tree, const std::string& output, std::ostream& out) {
    if (output == "-")
        out << tree.SaveToText() << std::flush;
    else if (IsCsvPath(output))
        tree.ExportCsv(output);
    else
        tree.SaveToFile(output);
}

TDevice* FindCliDevice(const TDevices& devices, const std::string& wanted) {
    if (wanted.size() > 1 && wanted[0] == '#') {
        const std::optional<int32_t> position = TryStrToInt(wanted.substr(1));
        if (!position)
            throw TModelError("'" + wanted + "' is not a catalogue position");
        return devices.DeviceByIndex(*position);
    }
    if (wanted.rfind("id:", 0) == 0) {
        const std::optional<int32_t> id = TryStrToInt(wanted.substr(3));
        if (!id)
            throw TModelError("'" + wanted + "' is not a device id");
        return devices.DeviceById(*id);
    }
    for (const auto& device : devices.Devices) {
        if (device->Name == wanted)
            return device.get();
    }
    throw TModelError("Could not find device type '" + wanted + "' in the XML device definitions list");
}

int CliDefaults(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 1 || (options.output.empty() && !options.json)) {
        err << "usage: dezadizi-cli defaults DEVICE -o OUT [-d FILE] [--json]\n";
        return cliUsage;
    }
    return RunOffline(options, options.positional[0], nullptr, out, err);
}

int CliConvert(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.positional.size() != 2 || (options.output.empty() && !options.json)) {
        err << "usage: dezadizi-cli convert DEVICE IN -o OUT [-d FILE] [--by-name] [--allow-out-of-range] "
               "[--json]\n";
        return cliUsage;
    }
    return RunOffline(options, options.positional[0], &options.positional[1], out, err);
}
