#include "CliCheck.h"

#include "definitions/Definitioncheck.h"
#include "features/Jsonlines.h"

#include <QJsonObject>

int CliCheck(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.positional.empty() || !options.output.empty()) {
        err << "usage: dezadizi-cli check [-d FILE] [--json]\n";
        return cliUsage;
    }
    const TDefinitionReport report = CheckDefinitionFile(options.definitionFile);
    if (options.json) {
        for (const TDefinitionFinding& finding : report.Findings)
            out << JsonLine(JsonFinding(options.definitionFile, finding));
        QJsonObject result = JsonResult(report.Errors > 0 ? "failed" : "ok");
        result.insert("errors", report.Errors);
        result.insert("warnings", report.Warnings);
        out << JsonLine(result);
        return report.Errors > 0 ? cliFailed : cliOk;
    }
    for (const TDefinitionFinding& finding : report.Findings) {
        out << options.definitionFile;
        if (finding.Line > 0)
            out << ':' << finding.Line;
        out << ": " << (finding.IsError ? "error" : "warning") << ": " << finding.Text << '\n';
    }
    out << report.Errors << " errors, " << report.Warnings << " warnings\n";
    return report.Errors > 0 ? cliFailed : cliOk;
}
