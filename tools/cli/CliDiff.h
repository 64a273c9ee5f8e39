#pragma once
// The comparison command of dezadizi-cli.
#include "Cli.h"

// "diff DEVICE A B": the settings whose values differ between two sources (a settings file,
// "defaults" or "unit:PORT"), one tab-separated line each, or CSV with --csv. Exit status as
// diff(1): 0 alike, 1 different, 2 trouble.
int CliDiff(const TCliOptions& options, std::ostream& out, std::ostream& err);
