#include "link/Trafficlog.h"

#include "base/Csv.h"
#include "base/Savefile.h"
#include "modbus/Trafficdecoder.h"

#include <algorithm>
#include <cctype>

TTrafficLog::TTrafficLog() : FOriginUs(TrafficNowUs()) {}

void TTrafficLog::Frame(const TTrafficFrame& frame) {
    Frame(frame, {});
}

void TTrafficLog::Frame(const TTrafficFrame& frame, const std::string& target) {
    // Copied before the lock: the exchange that reports it waits for no other thread's copy.
    TTrafficLogFrame kept{frame, target};
    std::lock_guard<std::mutex> lock(FLock);
    if (FPaused)
        return;
    if (FFrames.size() == Capacity)
        FFrames.pop_front();
    FFrames.push_back(std::move(kept));
    ++FLast;
}

void TTrafficLog::Clear() {
    std::lock_guard<std::mutex> lock(FLock);
    FFrames.clear();
}

void TTrafficLog::SetPaused(bool paused) {
    std::lock_guard<std::mutex> lock(FLock);
    FPaused = paused;
}

bool TTrafficLog::Paused() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPaused;
}

std::vector<TTrafficLogFrame> TTrafficLog::TakeSince(uint64_t& seen) const {
    std::lock_guard<std::mutex> lock(FLock);
    // FFrames holds the numbers FLast - size + 1 .. FLast.
    const uint64_t unseen = FLast > seen ? FLast - seen : 0;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(unseen, FFrames.size()));
    seen = FLast;
    return {FFrames.end() - static_cast<std::ptrdiff_t>(count), FFrames.end()};
}

std::vector<TTrafficLogFrame> TTrafficLog::Frames() const {
    std::lock_guard<std::mutex> lock(FLock);
    return {FFrames.begin(), FFrames.end()};
}

void TTrafficLog::Save(const std::string& path) const {
    std::string ending = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::vector<TTrafficLogFrame> frames = Frames();
    SaveFileContent(path, ending == ".csv" ? TrafficCsv(frames, FOriginUs) : TrafficText(frames, FOriginUs));
}

std::string TrafficCsv(const std::vector<TTrafficLogFrame>& frames, int64_t originUs) {
    TCsvWriter csv;
    csv.AddRow(TrafficCsvHeader());
    for (const TTrafficLogFrame& frame : frames)
        csv.AddRow(TrafficCsvCells(frame, originUs, frame.target));
    return csv.Text();
}

std::string TrafficText(const std::vector<TTrafficLogFrame>& frames, int64_t originUs) {
    std::string text;
    for (const TTrafficLogFrame& frame : frames)
        text += TrafficLine(frame, originUs, frame.target) + "\n";
    return text;
}
