#include "Cli.h"

#include "CliCheck.h"
#include "CliCommission.h"
#include "CliDiff.h"
#include "CliHistory.h"
#include "CliJsonMessages.h"
#include "CliOffline.h"
#include "CliOnline.h"
#include "CliScan.h"

#include "Version.h"
#include "base/Errors.h"
#include "definitions/Definitionfile.h"
#include "definitions/Devices.h"
#include "features/Jsonlines.h"
#include "modbus/Registerdatastore.h"
#include "settings/Settings.h"

#include <QJsonObject>
#include <algorithm>
#include <exception>

namespace {

const char* const UsageText =
    "usage: dezadizi-cli COMMAND [options]\n"
    "commands:\n"
    "  devices [-d FILE]    list the device types of the definition file\n"
    "  defaults DEVICE -o OUT [-d FILE]\n"
    "                       save the device type's factory defaults as a settings file\n"
    "                       (or as CSV when OUT ends in .csv)\n"
    "  convert DEVICE IN -o OUT [-d FILE] [--by-name] [--allow-out-of-range]\n"
    "                       load the settings file IN over the defaults and save or export it\n"
    "  read PORT -o OUT [-d FILE] [--timeout MS]\n"
    "                       find the unit on PORT, read every setting, save or export OUT\n"
    "  write PORT IN [-d FILE] [--by-name] [--allow-out-of-range] [--all] [--no-verify]\n"
    "                       [--timeout MS] [--json]\n"
    "                       find the unit on PORT, read it, write what the settings file IN\n"
    "                       changes, save it and read it back to verify it\n"
    "  ports [set COMn PATH | clear COMn]\n"
    "                       show or change which device each comm port name opens\n"
    "  diff DEVICE A B [-d FILE] [--csv] [--by-name] [--timeout MS]\n"
    "                       list the settings whose values differ between A and B, each a settings\n"
    "                       file, the word defaults, or unit:PORT (the unit on PORT, read now):\n"
    "                       group, setting, A's value, B's value, tab separated (--csv: as CSV);\n"
    "                       exit status 0 alike, 1 different, 2 trouble\n"
    "  check [-d FILE]      check the definition file: each finding as FILE:LINE: error|warning: TEXT,\n"
    "                       then \"N errors, M warnings\"; exit status 1 when there are errors\n"
    "  commission FILE TARGET... [-d FILE] [--keep GROUP/SETTING]... [--per-unit FILE.csv]\n"
    "                       [--report OUT.csv] [--dry-run] [--by-name] [--allow-out-of-range]\n"
    "                       [--timeout MS]\n"
    "                       write the settings file FILE to every TARGET (PORT or PORT@ADDR): check\n"
    "                       its device type, read it, write what differs, save and verify it; ports\n"
    "                       and gateways run at the same time (the units behind one gateway one\n"
    "                       after another over one connection), one line per unit as it finishes\n"
    "  scan PORT [--from A] [--to B] [--wait MS] [--timeout MS]\n"
    "                       list the units answering on PORT: address, device id, device type\n"
    "  history [--port PORT] [--device DEVICE] [--since DATE] [--csv] [--report OUT.html]\n"
    "                       list the record of writes ($XDG_DATA_HOME/dezadizi/history.jsonl), oldest\n"
    "                       first, one line per changed setting (--csv: as CSV; --report: a page to\n"
    "                       print and hand over); each write also saves what the unit held before in\n"
    "                       dezadizi/backups/ there, a settings file that undoes it when written back\n"
    "options:\n"
    "  -d FILE              the definition file (default: Devices.xml next to the program, else\n"
    "                       dezadizi/Devices.xml in $XDG_DATA_HOME, then in each of $XDG_DATA_DIRS)\n"
    "  -o OUT               the file to write; - writes the settings file to standard output\n"
    "  --csv                diff: write CSV with the header line Group,Setting,A,B; history: as CSV\n"
    "  --port PORT          history: only the writes to the units on PORT (PORT@ADDR: that unit)\n"
    "  --device DEVICE      history: only the writes to this device type (name, id or id:N)\n"
    "  --since DATE         history: only the writes from DATE (YYYY-MM-DD, UTC) or an ISO 8601 time\n"
    "  --by-name            convert, write, diff: match the file's groups and settings by their names\n"
    "                       (for a file saved with another version of the definition file)\n"
    "  --allow-out-of-range convert, write: load values outside their settings' limits\n"
    "  --all                write: send every setting, not only those that differ from the unit\n"
    "  --no-verify          write: do not read back what was sent\n"
    "  --keep GROUP/SETTING commission: the unit keeps its own value of that setting (of every copy\n"
    "                       of a template setting); repeat it for several\n"
    "  --per-unit FILE.csv  commission: values for single units, header target,GROUP/SETTING,...,\n"
    "                       one row per target, values as the window shows them\n"
    "  --report OUT         commission: CSV, one row per unit: port,address,device_id,device_type,\n"
    "                       result,changed,seconds,message,backup,warnings; history: the\n"
    "                       selected writes as a self-contained HTML page\n"
    "  --dry-run            commission: read and report what would change, write nothing\n"
    "  --from A             scan: the first address asked (default 1)\n"
    "  --to B               scan: the last address asked (default 247)\n"
    "  --wait MS            scan: how long each address is given to answer (10 to 10000, default\n"
    "                       100 ms; through a gateway 500 ms more for Modbus TCP, 20 ms more for\n"
    "                       RTU over TCP); an address whose reply comes later is asked again with\n"
    "                       the --timeout\n"
    "  --json               JSON Lines on standard output, one object per line with \"schema\": 1\n"
    "                       and a \"kind\" (device, setting, difference, finding, entry, port,\n"
    "                       unit, result); warnings and errors as objects of kind warning and\n"
    "                       error on standard error as they happen; -o becomes optional, and\n"
    "                       -o - and --csv are usage errors\n"
    "  --timeout MS         read, write, diff, commission, scan: how long to wait for a unit's reply\n"
    "                       (default 1000 ms on a serial line, 1500 ms through a gateway; scan:\n"
    "                       an address asked again, see --wait)\n"
    "  --trace FILE         read, write, diff, commission, scan: log every frame sent to and received\n"
    "                       from the units, decoded, one line each as it goes (CSV when FILE ends in\n"
    "                       .csv); commission: every line names its target\n"
    "  --help               show this text\n"
    "  --version            show the program's version\n"
    "DEVICE is a device type's name, #N for catalogue position N, or id:N for its device_id.\n"
    "PORT is COMn (see 'ports') or a device path such as /dev/ttyUSB0; PORT@ADDR names the unit\n"
    "at slave address ADDR (1 to 247, default 1) on that line. PORT may also be a network gateway:\n"
    "tcp://HOST[:PORT] (Modbus TCP, TCP port 502 unless given) or rtu+tcp://HOST:PORT (RTU frames\n"
    "over TCP); HOST is a name, an IPv4 address or an IPv6 address in brackets.\n"
    "Exit status: 0 success, 1 failure (message on standard error), 2 usage error,\n"
    "3 written but the save not confirmed: the unit did not answer the save command (write again\n"
    "if it was restarted before it finished saving) or the read-back that verifies what was sent,\n"
    "130 stopped by Ctrl-C: a write stopped so is not saved on the unit (write again to finish);\n"
    "143 on SIGTERM, 129 on SIGHUP, stopped alike.\n"
    "commission: 0 when every unit is verified or unchanged, 3 when the rest are only unconfirmed,\n"
    "1 otherwise (a dry run: 0 when every unit was reached and is of the file's device type).\n";

} // namespace

bool ParseCliOptions(const std::vector<std::string>& args, const std::string& exeDir, TCliOptions& options,
                     std::ostream& err) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-d" || arg == "-o") {
            if (i + 1 >= args.size()) {
                err << "dezadizi-cli: option " << arg << " needs a value\n";
                return false;
            }
            (arg == "-d" ? options.definitionFile : options.output) = args[++i];
        } else if (arg == "--keep" || arg == "--per-unit" || arg == "--report" || arg == "--from" ||
                   arg == "--to" || arg == "--port" || arg == "--device" || arg == "--since" ||
                   arg == "--timeout" || arg == "--wait") {
            if (i + 1 >= args.size()) {
                err << "dezadizi-cli: option " << arg << " needs a value\n";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--keep")
                options.keep.push_back(value);
            else
                (arg == "--per-unit" ? options.perUnit
                 : arg == "--report" ? options.report
                 : arg == "--from"   ? options.from
                 : arg == "--to"     ? options.to
                 : arg == "--port"   ? options.port
                 : arg == "--device" ? options.device
                 : arg == "--since"  ? options.since
                 : arg == "--wait"   ? options.wait
                                     : options.timeout) = value;
        } else if (arg == "--trace") {
            if (i + 1 >= args.size()) {
                err << "dezadizi-cli: option " << arg << " needs a value\n";
                return false;
            }
            options.trace = args[++i];
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--by-name") {
            options.byName = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--allow-out-of-range") {
            options.allowOutOfRange = true;
        } else if (arg == "--all") {
            options.all = true;
        } else if (arg == "--no-verify") {
            options.noVerify = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            err << "dezadizi-cli: unknown option " << arg << "\n";
            return false;
        } else {
            options.positional.push_back(arg);
        }
    }
    if (options.definitionFile.empty())
        options.definitionFile = FindDefinitionFile(exeDir);
    if (options.json && (options.output == "-" || options.csv)) {
        err << "dezadizi-cli: --json writes standard output itself: not with -o - or --csv\n";
        return false;
    }
    return true;
}

void LoadCliSettingsFile(TSettings& tree, const std::string& path, const TCliOptions& options,
                         std::ostream& err) {
    try {
        tree.LoadFromFile(path, {options.byName, options.allowOutOfRange});
    } catch (const TOtherDefinitionsError& e) {
        throw TModelError(std::string(e.what()) +
                          "\nThe settings file was saved with other definitions; --by-name loads it by group "
                          "and setting names.");
    } catch (const TOutOfLimitsError& e) {
        throw TModelError(std::string(e.what()) + "\n--allow-out-of-range loads them anyway.");
    }
    for (const std::string& warning : tree.LoadWarnings)
        err << "warning: " << warning << "\n";
}

int CliDevices(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.positional.empty() || !options.output.empty()) {
        err << "usage: dezadizi-cli devices [-d FILE]\n";
        return cliUsage;
    }
    TRegisterDataStore store;
    TDevices devices(store);
    try {
        devices.LoadFromFile(options.definitionFile);
    } catch (const std::exception& e) {
        // Nothing is listed from a file that did not load completely.
        err << e.what() << "\n";
        return cliFailed;
    }
    int position = 0;
    for (const auto& device : devices.Devices) {
        if (options.json) {
            out << JsonLine(JsonDevice(position++, *device));
            continue;
        }
        out << position++ << '\t' << device->DeviceId << '\t' << device->SettingsId << '\t' << device->Name
            << '\n';
    }
    return cliOk;
}

void PrintJson(const std::vector<QJsonObject>& objects, std::ostream& out) {
    for (const QJsonObject& object : objects)
        out << JsonLine(object);
}

namespace {

int RunCommand(const std::string& command, const std::vector<std::string>& rest, const std::string& exeDir,
               std::ostream& out, std::ostream& err, bool json) {
    TCliOptions options;
    if (!ParseCliOptions(rest, exeDir, options, err)) {
        // A script is told what was wrong, not the whole usage text.
        if (!json)
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
    if (command == "check")
        return CliCheck(options, out, err);
    if (command == "diff")
        return CliDiff(options, out, err);
    if (command == "commission")
        return CliCommission(options, out, err);
    if (command == CommissionPortCommand)
        return CliCommissionPort(options, out, err);
    if (command == "scan")
        return CliScan(options, out, err);
    if (command == "history")
        return CliHistory(options, out, err);
    err << "dezadizi-cli: unknown command " << command << "\n" << (json ? "" : UsageText);
    return cliUsage;
}

} // namespace

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
    if (args[0] == "--version") {
        out << "dezadizi-cli " << DezVersion << "\n";
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
    if (std::find(rest.begin(), rest.end(), "--json") == rest.end())
        return RunCommand(command, rest, exeDir, out, err, false);
    // Standard error becomes objects as the command writes it.
    TCliJsonMessages messages(err);
    std::ostream objects(&messages);
    const int status = RunCommand(command, rest, exeDir, out, objects, true);
    messages.Finish();
    return status;
}
