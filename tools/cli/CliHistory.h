#pragma once
// The write record's command of dezadizi-cli.
#include "Cli.h"

// "history [--port PORT] [--device DEVICE] [--since DATE] [--csv] [--report OUT.html]": the
// recorded writes, oldest first, one line per changed setting, as CSV, or as an HTML page.
int CliHistory(const TCliOptions& options, std::ostream& out, std::ostream& err);
