#pragma once
// Where the programs look for the device definition file. Next to the executable comes first (a
// build folder or a copied program folder keeps it there); an installed program finds it in the
// XDG data folders, where a maintainer may also place a newer file for one user:
// $XDG_DATA_HOME/dezadizi/Devices.xml, then dezadizi/Devices.xml in each of $XDG_DATA_DIRS
// (by default /usr/local/share and /usr/share).
#include <string>
#include <vector>

// Every place looked at, in order.
std::vector<std::string> DefinitionFileCandidates(const std::string& exeDir);

// The first candidate that is a file; when there is none, the last one looked at, so that the
// load's "Could not find XML document" message names it.
std::string FindDefinitionFile(const std::string& exeDir);
