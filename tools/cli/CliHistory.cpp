#include "CliHistory.h"

#include "CliOnline.h"

#include "base/Savefile.h"
#include "features/History.h"
#include "features/Jsonlines.h"

#include <QJsonObject>

#include <exception>
#include <ostream>

int CliHistory(const TCliOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.positional.empty() || !options.output.empty() || (options.csv && !options.report.empty())) {
        err << "usage: dezadizi-cli history [--port PORT] [--device DEVICE] [--since DATE] [--csv] "
               "[--report OUT.html] [--json]\n";
        return cliUsage;
    }
    // PORT@ADDR selects one unit; an address no unit can have is a mistake, not an empty list.
    if (options.port.find('@') != std::string::npos) {
        int status = cliUsage;
        if (!ParseCliTarget(options.port, err, &status))
            return status;
    }
    try {
        const THistoryFilter filter{options.port, options.device, options.since};
        CheckHistoryFilter(filter);
        const THistory history = ReadHistory(HistoryPath(), filter);
        PrintWarnings(history.Warnings, err);
        if (options.json) {
            if (!options.report.empty())
                SaveFileContent(options.report, HistoryReport(history.Entries));
            for (const THistoryEntry& entry : history.Entries)
                out << JsonLine(JsonHistoryEntry(entry));
        } else if (!options.report.empty()) {
            SaveFileContent(options.report, HistoryReport(history.Entries));
            const size_t count = history.Entries.size();
            out << "Wrote the record of " << count << (count == 1 ? " write" : " writes") << " into "
                << options.report << "\n";
        } else {
            out << (options.csv ? HistoryCsv(history.Entries) : HistoryText(history.Entries));
        }
        return cliOk;
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return cliFailed;
    }
}
