#pragma once
// dezadizi-cli: the core without a window, for scripted commissioning and tests.
#include "features/Outcome.h"

#include <ostream>
#include <string>
#include <vector>

class QJsonObject;
class TSettings;

// The tool's exit codes (TCliExit) are in model/Outcome.h, beside the outcomes that give them.

// Runs the tool with its arguments (without the program name). `exeDir` is the executable's
// directory, where the default Devices.xml is looked for first.
int RunCli(const std::vector<std::string>& args, const std::string& exeDir, std::ostream& out,
           std::ostream& err);

// Shared by the commands: the -d FILE option (default: FindDefinitionFile(exeDir)).
struct TCliOptions {
    std::string definitionFile;
    std::string output;                  // -o OUT
    std::vector<std::string> positional; // the command's own arguments
    bool byName = false;                 // --by-name
    bool allowOutOfRange = false;        // --allow-out-of-range
    bool all = false;                    // --all
    bool noVerify = false;               // --no-verify
    bool csv = false;                    // --csv
    std::vector<std::string> keep;       // --keep GROUP/SETTING, repeated
    std::string perUnit;                 // --per-unit FILE.csv
    std::string report;                  // --report OUT.csv (commission), OUT.html (history)
    bool dryRun = false;                 // --dry-run
    std::string from;                    // --from A
    std::string to;                      // --to B
    std::string port;                    // --port PORT (history)
    std::string device;                  // --device DEVICE (history)
    std::string since;                   // --since DATE (history)
    std::string timeout;                 // --timeout MS (the commands that talk to a unit)
    std::string wait;                    // --wait MS (scan)
    bool json = false;                   // --json: JSON Lines on standard output and standard error
    std::string trace;                   // --trace FILE (the commands that talk to a unit)
};

// Parses "-d FILE", "-o OUT", the load options and positional arguments. Returns false (after writing a
// message to err) on an unknown option or a missing option value.
bool ParseCliOptions(const std::vector<std::string>& args, const std::string& exeDir, TCliOptions& options,
                     std::ostream& err);

// Tells what was changed to take a file's or a unit's values: one line each on standard error.
inline void PrintWarnings(const std::vector<std::string>& warnings, std::ostream& err) {
    for (const std::string& warning : warnings)
        err << "warning: " << warning << "\n";
}

// Loads the settings file IN as the options allow: refusals that an option would let through
// name the option, and the load's warnings go to err, one line each.
void LoadCliSettingsFile(TSettings& tree, const std::string& path, const TCliOptions& options,
                         std::ostream& err);

// With --json: writes the objects, one line each, on standard output.
void PrintJson(const std::vector<QJsonObject>& objects, std::ostream& out);

// The command "devices": position, device_id, settings_id and name of every device type.
int CliDevices(const TCliOptions& options, std::ostream& out, std::ostream& err);
