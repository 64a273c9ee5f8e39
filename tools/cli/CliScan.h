#pragma once
// "scan PORT [--from A] [--to B]": the units that answer on a line, by slave address.
#include "Cli.h"

int CliScan(const TCliOptions& options, std::ostream& out, std::ostream& err);
