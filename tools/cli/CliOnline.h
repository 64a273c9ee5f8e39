#pragma once
// The online commands of dezadizi-cli: they use the same serial manager, workers and register
// data store as the window, with this thread servicing the workers' hand-overs.
#include "Cli.h"

#include <functional>

class TDevice;
class TDevices;

// "read PORT -o OUT": search PORT for the unit, read every setting, save or export OUT.
int CliRead(const TCliOptions& options, std::ostream& out, std::ostream& err);
// "write PORT IN": search PORT, read the unit, load IN over it, write every setting and commit.
int CliWrite(const TCliOptions& options, std::ostream& out, std::ostream& err);
// Finds the unit on PORT, reads every setting, and hands its device type, holding the unit's
// values, to `use` while the session still stands. Raises with the message to print.
void WithUnitRead(const TDevices& devices, const std::string& port, std::ostream& err,
                  const std::function<void(TDevice&)>& use);
// "ports", "ports set COMn PATH", "ports clear COMn": the comm port mapping of the user settings.
int CliPorts(const TCliOptions& options, std::ostream& out, std::ostream& err);
