#pragma once
// The traffic log of the window: the last frames of every port in memory, for the traffic table
// to show and for a trace file to be saved from. The workers and gateway masters hand it frames
// from their own threads; the window takes what is new on its own.
#include "modbus/Trafficframe.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// A frame as the log keeps it: with the port or gateway it went over (empty: not known).
struct TTrafficLogFrame : TTrafficFrame {
    std::string target;
};

class TTrafficLog : public TTrafficSink {
public:
    // Enough for minutes of a busy line; the oldest frames go first.
    static constexpr size_t Capacity = 10000;

    TTrafficLog();

    // Any thread. Kept unless the log is paused; `target` names the port it went over.
    void Frame(const TTrafficFrame& frame) override;
    void Frame(const TTrafficFrame& frame, const std::string& target);

    void Clear();
    // Frames arriving while paused are not kept.
    void SetPaused(bool paused);
    bool Paused() const;

    // Every frame ever kept gets the next number, starting at 1; Clear does not restart them.
    // Returns the frames kept whose number is above `seen`, oldest first, and sets `seen` to the
    // number of the newest one kept.
    std::vector<TTrafficLogFrame> TakeSince(uint64_t& seen) const;
    std::vector<TTrafficLogFrame> Frames() const;
    // When the log was made: the frames' times are shown counted from it.
    int64_t OriginUs() const { return FOriginUs; }

    // Writes the frames kept to `path`: CSV when its name ends in ".csv" (any case), else one line
    // of text each. Raises TModelError naming the path and the cause.
    void Save(const std::string& path) const;

private:
    const int64_t FOriginUs;
    mutable std::mutex FLock;
    std::deque<TTrafficLogFrame> FFrames;
    // The number of the newest frame in FFrames (0: none kept yet).
    uint64_t FLast = 0;
    bool FPaused = false;
};

// The renderings a trace file holds: the CSV rows with their header, or one line of text a frame.
std::string TrafficCsv(const std::vector<TTrafficLogFrame>& frames, int64_t originUs);
std::string TrafficText(const std::vector<TTrafficLogFrame>& frames, int64_t originUs);
