#pragma once
// A checker for definition files, like a compiler's warnings: what the load accepts but a unit
// would suffer from (settings that overwrite each other, values the editors or the registers
// cannot hold, references to nothing), and leftovers worth a look.
#include <string>
#include <vector>

struct TDefinitionFinding {
    int Line = 0; // 1-based line of the element concerned; 0 when there is none
    bool IsError = true;
    std::string Text;
};

struct TDefinitionReport {
    std::vector<TDefinitionFinding> Findings; // in line order
    int Errors = 0;
    int Warnings = 0;
};

// Reads the file with the catalogue's loader, builds every device type and checks it. A file the
// loader refuses gives the loader's message as an error at the element (or parse offset) concerned.
TDefinitionReport CheckDefinitionFile(const std::string& path);
