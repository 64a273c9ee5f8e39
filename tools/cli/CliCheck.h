#pragma once
// "check [-d FILE]": the definition file's findings, like a compiler's warnings.
#include "Cli.h"

int CliCheck(const TCliOptions& options, std::ostream& out, std::ostream& err);
