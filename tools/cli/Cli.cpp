#include "Cli.h"

#include "CliOffline.h"
#include "CliOnline.h"

#include "model/Devices.h"

#include <exception>
#include <filesystem>

namespace {

const char* const UsageText =
    "usage: dezadizi-cli COMMAND [options]\n"
    "commands:\n"
    "  devices [-d FILE]    list the device types of the definition file\n"
    "  defaults DEVICE -o OUT [-d FILE]\n"
    "                       save the device type's factory defaults as a settings file\n"
    "                       (or as CSV when OUT ends in .csv)\n"
    "  convert DEVICE IN -o OUT [-d FILE]\n"
    "                       load the settings file IN over the defaults and save or export it\n"
    "  read PORT -o OUT [-d FILE]\n"
    "                       find the unit on PORT, read every setting, save or export OUT\n"
    "  write PORT IN [-d FILE]\n"
    "                       find the unit on PORT and write the settings file IN to it\n"
    "  ports [set COMn PATH | clear COMn]\n"
    "                       show or change which device each comm port name opens\n"
    "options:\n"
    "  -d FILE              the definition file (default: Devices.xml next to the program)\n"
    "  -o OUT               the file to write\n"
    "  --help               show this text\n"
    "DEVICE is a device type's name, #N for catalogue position N, or id:N for its device_id.\n"
    "PORT is COMn (see 'ports') or a device path such as /dev/ttyUSB0.\n"
    "Exit status: 0 success, 1 failure (message on standard error), 2 usage error,\n"
    "3 written but the save not confirmed: the unit did not answer the save command (write again\n"
    "if it was restarted before it finished saving).\n";

} // namespace

bool ParseCliOptions(const std::vector<std::string>& args, const std::string& exeDir, TCliOptions& options,
                     std::ostream& err) {
    options.definitionFile = (std::filesystem::path(exeDir) / "Devices.xml").string();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-d" || arg == "-o") {
            if (i + 1 >= args.size()) {
                err << "dezadizi-cli: option " << arg << " needs a value\n";
                return false;
            }
            (arg == "-d" ? options.definitionFile : options.output) = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            err << "dezadizi-cli: unknown option " << arg << "\n";
            return false;
        } else {
            options.positional.push_back(arg);
        }
    }
    return true;
}

int CliDevices(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.positional.empty() || !options.output.empty()) {
        err << "usage: dezadizi-cli devices [-d FILE]\n";
        return cliUsage;
    }
    TDevices devices;
    try {
        devices.LoadFromFile(options.definitionFile);
    } catch (const std::exception& e) {
        // Nothing is listed from a file that did not load completely.
        err << e.what() << "\n";
        return cliFailed;
    }
    int position = 0;
    for (const auto& device : devices.Devices) {
        out << position++ << '\t' << device->DeviceId << '\t' << device->SettingsId << '\t' << device->Name
            << '\n';
    }
    return cliOk;
}

int RunCli(const std::vector<std::string>& args, const std::string& exeDir, std::ostream& out,
           std::ostream& err) {
    if (args.empty()) {
        err << UsageText;
        return cliUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << UsageText;
        return cliOk;
    }
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& arg : rest) {
        if (arg == "--help") {
            out << UsageText;
            return cliOk;
        }
    }
    TCliOptions options;
    if (!ParseCliOptions(rest, exeDir, options, err)) {
        err << UsageText;
        return cliUsage;
    }
    if (command == "devices")
        return CliDevices(options, out, err);
    if (command == "defaults")
        return CliDefaults(options, out, err);
    if (command == "convert")
        return CliConvert(options, out, err);
    if (command == "read")
        return CliRead(options, out, err);
    if (command == "write")
        return CliWrite(options, out, err);
    if (command == "ports")
        return CliPorts(options, out, err);
    err << "dezadizi-cli: unknown command " << command << "\n" << UsageText;
    return cliUsage;
}
