#pragma once
// The offline commands of dezadizi-cli: a device type's defaults, and settings-file conversion.
#include "Cli.h"

class TDevice;
class TDevices;
class TSettings;

// "defaults DEVICE -o OUT": the device type's tree with every default restored, as offline
// editing starts, saved as a settings file, or exported as CSV when OUT ends in ".csv".
int CliDefaults(const TCliOptions& options, std::ostream& out, std::ostream& err);
// "convert DEVICE IN -o OUT": the settings file IN loaded over the defaults, saved or exported.
int CliConvert(const TCliOptions& options, std::ostream& out, std::ostream& err);

// A device type by its name, "#N" (catalogue position) or "id:N" (device_id); raises when none.
TDevice* FindCliDevice(const TDevices& devices, const std::string& spec);
// The main window's rule: an extension of ".csv" in any letter case means an export.
bool IsCsvPath(const std::string& path);
// Writes the tree to OUT: "-" is standard output (a settings file), a path ending in ".csv" an
// export, any other path a settings file.
void SaveCliOutput(const TSettings& tree, const std::string& output, std::ostream& out);
