#pragma once
// dezadizi-cli: the core without a window, for scripted commissioning and tests.
#include <ostream>
#include <string>
#include <vector>

// Exit codes of the tool.
// cliUnconfirmed: the settings were written but the unit did not answer the save command.
enum TCliExit : int { cliOk = 0, cliFailed = 1, cliUsage = 2, cliUnconfirmed = 3 };

// Runs the tool with its arguments (without the program name). `exeDir` is the directory in
// which the default Devices.xml lies.
int RunCli(const std::vector<std::string>& args, const std::string& exeDir, std::ostream& out,
           std::ostream& err);

// Shared by the commands: the -d FILE option (default: Devices.xml in exeDir).
struct TCliOptions {
    std::string definitionFile;
    std::string output;                  // -o OUT
    std::vector<std::string> positional; // the command's own arguments
};

// Parses "-d FILE", "-o OUT" and positional arguments. Returns false (after writing a message
// to err) on an unknown option or a missing option value.
bool ParseCliOptions(const std::vector<std::string>& args, const std::string& exeDir, TCliOptions& options,
                     std::ostream& err);

// The command "devices": position, device_id, settings_id and name of every device type.
int CliDevices(const TCliOptions& options, std::ostream& out, std::ostream& err);
