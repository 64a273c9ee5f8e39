#pragma once
// "commission FILE TARGET...": one settings file written to many units. The program holds one
// register image per process, so each port's targets run in a child of this program (the hidden
// command "commission-port"), ports at the same time, a port's targets one after another; the
// parent collects one result line per target.
#include "Cli.h"

int CliCommission(const TCliOptions& options, std::ostream& out, std::ostream& err);
// The child's command: the targets of one port, one result line each on standard output.
int CliCommissionPort(const TCliOptions& options, std::ostream& out, std::ostream& err);
// The name of the child's command, kept out of the usage text.
constexpr const char* CommissionPortCommand = "commission-port";
