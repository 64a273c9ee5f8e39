#include "definitions/Definitionfile.h"

#include <QDir>
#include <QStandardPaths>
#include <filesystem>

namespace {

const char* const FileName = "Devices.xml";

} // namespace

std::vector<std::string> DefinitionFileCandidates(const std::string& exeDir) {
    std::vector<std::string> candidates{(std::filesystem::path(exeDir) / FileName).string()};
    // Qt applies the XDG rules: the data home (default ~/.local/share), then each data folder
    // (default /usr/local/share:/usr/share), relative entries dropped.
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        candidates.push_back(QDir(folder).filePath(QStringLiteral("dezadizi/") + FileName).toStdString());
    return candidates;
}

std::string FindDefinitionFile(const std::string& exeDir) {
    const std::vector<std::string> candidates = DefinitionFileCandidates(exeDir);
    std::error_code error;
    for (const std::string& candidate : candidates) {
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate;
    }
    return candidates.back();
}
