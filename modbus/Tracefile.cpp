#include "modbus/Tracefile.h"

#include "base/Csv.h"
#include "modbus/Trafficdecoder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#include <utility>

TTraceFile::TTraceFile(std::string target, int64_t originUs)
    : FTarget(std::move(target)), FOriginUs(originUs) {}

TTraceFile::~TTraceFile() {
    if (FHandle >= 0)
        ::close(FHandle);
}

bool TTraceFile::IsCsvName(const std::string& path) {
    constexpr std::string_view suffix = ".csv";
    if (path.size() < suffix.size())
        return false;
    std::string end = path.substr(path.size() - suffix.size());
    for (char& c : end)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return end == suffix;
}

std::string TTraceFile::Open(const std::string& path, bool fresh) {
    if (FHandle >= 0)
        ::close(FHandle);
    FCsv = IsCsvName(path);
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (fresh ? O_TRUNC : 0);
    do
        FHandle = ::open(path.c_str(), flags, 0644);
    while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0)
        return path + ": " + std::strerror(errno);
    if (fresh && FCsv) {
        TCsvWriter header;
        header.AddRow(TrafficCsvHeader());
        if (!WriteAll(header.Text()))
            return path + ": " + std::strerror(errno);
    }
    return {};
}

bool TTraceFile::WriteAll(const std::string& text) const {
    // One call for the whole line: with O_APPEND it lands whole after every other writer's.
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(FHandle, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void TTraceFile::SetTarget(const std::string& target) {
    std::lock_guard<std::mutex> lock(FLock);
    FTarget = target;
}

void TTraceFile::Frame(const TTrafficFrame& frame) {
    if (FHandle < 0)
        return;
    std::string target;
    {
        std::lock_guard<std::mutex> lock(FLock);
        target = FTarget;
    }
    if (FCsv) {
        TCsvWriter row;
        row.AddRow(TrafficCsvCells(frame, FOriginUs, target));
        WriteAll(row.Text());
    } else {
        WriteAll(TrafficLine(frame, FOriginUs, target) + "\n");
    }
}
