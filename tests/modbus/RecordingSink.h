#pragma once
// A traffic sink that keeps each frame as "direction: decoding", for tests to compare.
#include "modbus/Trafficdecoder.h"

#include <mutex>
#include <string>
#include <vector>

class TRecordingSink : public TTrafficSink {
public:
    void Frame(const TTrafficFrame& frame) override {
        std::string line = TrafficDirectionText(frame.direction) + ": ";
        // The wait depends on the machine; that it was the reply's time-out is checked apart.
        line += frame.direction == TTrafficDirection::NoReply ? "no reply" : DecodeFrame(frame).Text();
        std::lock_guard<std::mutex> lock(FLock);
        FLines.push_back(line);
        FWaitedMs.push_back(frame.waitedMs);
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(FLock);
        return FLines;
    }
    std::vector<int32_t> WaitedMs() {
        std::lock_guard<std::mutex> lock(FLock);
        return FWaitedMs;
    }

private:
    std::mutex FLock;
    std::vector<std::string> FLines;
    std::vector<int32_t> FWaitedMs;
};
