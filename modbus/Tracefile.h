#pragma once
// The trace file: a traffic sink that writes each frame as it comes, one line per frame, text
// or CSV (a file name ending in ".csv"). Every line goes out with one write() on a file opened
// for appending, so the processes of one run (a commissioning's children) share a file without
// tearing lines, and a crash keeps every frame up to the last. Never throws.
#include "modbus/Trafficframe.h"

#include <mutex>
#include <string>

class TTraceFile : public TTrafficSink {
public:
    // `target` names the port or gateway on each line ("COM3@7"); empty names none. Times are
    // counted from `originUs` (TrafficNowUs), by default the moment the file is made.
    explicit TTraceFile(std::string target = {}, int64_t originUs = TrafficNowUs());
    ~TTraceFile() override;

    // Opens `path` to append to; `fresh` empties it first and starts a CSV file with its header
    // row. Empty, or the words for the failure: "trace.txt: Permission denied".
    std::string Open(const std::string& path, bool fresh);
    bool IsOpen() const { return FHandle >= 0; }

    // The target named from now on: one run may go from unit to unit.
    void SetTarget(const std::string& target);

    void Frame(const TTrafficFrame& frame) override;

    static bool IsCsvName(const std::string& path);

private:
    bool WriteAll(const std::string& text) const;

    mutable std::mutex FLock;
    std::string FTarget;
    const int64_t FOriginUs;
    bool FCsv = false;
    int FHandle = -1;
};
