#include "CliCheck.h"

#include "definitions/Definitioncheck.h"

int CliCheck(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.positional.empty() || !options.output.empty()) {
        err << "usage: dezadizi-cli check [-d FILE]\n";
        return cliUsage;
    }
    const TDefinitionReport report = CheckDefinitionFile(options.definitionFile);
    for (const TDefinitionFinding& finding : report.Findings) {
        out << options.definitionFile;
        if (finding.Line > 0)
            out << ':' << finding.Line;
        out << ": " << (finding.IsError ? "error" : "warning") << ": " << finding.Text << '\n';
    }
    out << report.Errors << " errors, " << report.Warnings << " warnings\n";
    return report.Errors > 0 ? cliFailed : cliOk;
}
