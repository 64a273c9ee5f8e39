#pragma once
// One frame that went over the line, as a master (or the simulated unit) saw it, and the sink
// that takes such frames: the traffic log's raw record. Decoding and rendering are in
// modbus/Trafficdecoder.h.
#include <chrono>
#include <cstdint>
#include <vector>

enum class TTrafficDirection {
    Sent,
    Received, // a whole frame, or what came of one before the wait ended
    NoReply,  // the wait for a reply ended with nothing (or a part) come; see waitedMs
};

enum class TTrafficFraming {
    Rtu, // address, PDU, CRC-16 (serial line, RTU over TCP)
    Tcp, // MBAP header (transaction id, protocol id, length, unit id), PDU
};

// Whose side of the line the frame was seen from: a master sends requests and receives
// replies, the unit receives requests and sends replies.
enum class TTrafficSide { Master, Unit };

struct TTrafficFrame {
    // Steady-clock microseconds (TrafficNowUs); a log shows them counted from its own start.
    int64_t timeUs = 0;
    TTrafficDirection direction = TTrafficDirection::Sent;
    std::vector<uint8_t> bytes;
    TTrafficFraming framing = TTrafficFraming::Rtu;
    // For NoReply: how long the reply was waited for.
    int32_t waitedMs = 0;
    TTrafficSide side = TTrafficSide::Master;
};

// Takes every frame of the masters it is given to. Called from whatever thread talks to the
// unit (a gateway's own thread, a window's worker), several at once: a sink that keeps state
// locks it. Frame must not throw and should be quick: it runs inside the exchange.
class TTrafficSink {
public:
    TTrafficSink() = default;
    virtual ~TTrafficSink() = default;
    TTrafficSink(const TTrafficSink&) = delete;
    TTrafficSink& operator=(const TTrafficSink&) = delete;

    virtual void Frame(const TTrafficFrame& frame) = 0;
};

inline int64_t TrafficNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// `bytes` to `sink`, stamped now; nothing without a sink.
inline void ReportTraffic(TTrafficSink* sink, TTrafficSide side, TTrafficDirection direction,
                          TTrafficFraming framing, const std::vector<uint8_t>& bytes) {
    if (sink == nullptr)
        return;
    TTrafficFrame frame;
    frame.timeUs = TrafficNowUs();
    frame.direction = direction;
    frame.bytes = bytes;
    frame.framing = framing;
    frame.side = side;
    sink->Frame(frame);
}
