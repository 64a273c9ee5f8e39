#pragma once
// The simulated unit's line: a pseudo-terminal whose far side the master opens as its comm port.
// It cuts the byte stream into request frames (by length where the function code tells it, else
// by a quiet line), hands them to the unit and sends the replies, optionally at the pace of a
// real 9600-baud 8N1 line.
#include "modbus/Trafficframe.h"
#include "modbus/Unitmap.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TSimUnit;

// Cuts the byte stream a unit receives into request frames, as its receiver does: by length where
// the function code tells it, else at a quiet line. It holds at most one frame's worth: a longer
// run of bytes is noise, and everything up to the next quiet line is thrown away with it.
class TSimReceiver {
public:
    // The longest RTU frame.
    static constexpr size_t MaxFrameLength = 256;

    // Takes bytes off the line; returns the frames they complete, in order.
    std::vector<std::vector<uint8_t>> Receive(const uint8_t* bytes, size_t count);
    // The line fell quiet: what is held is one frame (empty when nothing is, or it was noise).
    std::vector<uint8_t> LineQuiet();
    // Bytes held towards the next frame.
    size_t Held() const { return FPending.size(); }
    // Bytes are being thrown away until the line falls quiet.
    bool Discarding() const { return FDiscarding; }

private:
    std::vector<uint8_t> FPending;
    bool FDiscarding = false;
};

class TSimPort {
public:
    // 11 bits a character (start, 8 data, stop, and the gap of a real line rounded in) at 9600 baud.
    static constexpr std::chrono::microseconds CharacterTime{Unitmap::CharacterBits * 1'000'000 /
                                                             Unitmap::BaudRate};
    // How long `characters` bytes take on that line; a gateway's line paces its frames alike.
    static constexpr std::chrono::microseconds WireTime(size_t characters) {
        return CharacterTime * static_cast<long>(characters);
    }

    TSimPort() = default;
    ~TSimPort();
    TSimPort(const TSimPort&) = delete;
    TSimPort& operator=(const TSimPort&) = delete;

    // Creates the pseudo-terminal; false with a reason when the system refuses.
    bool Create(std::string* error);
    // The path a master opens, such as /dev/pts/3.
    const std::string& Path() const { return FPath; }

    void SetWireSpeed(bool on) { FWireSpeed = on; }
    // Every request frame taken off the line and every reply sent go to `sink` (null: none).
    void SetTrafficSink(TTrafficSink* sink) { FTrace = sink; }

    // Serves requests until `stopFd` becomes readable (or fails). `idle` runs whenever the line
    // has been quiet for a while. Every unit hears every frame, as on an RS-485 line; the one
    // addressed answers. The first unit reports the line's noise.
    void Serve(TSimUnit& unit, int stopFd, const std::function<void()>& idle);
    void Serve(const std::vector<TSimUnit*>& units, int stopFd, const std::function<void()>& idle);

private:
    using Clock = std::chrono::steady_clock;
    void Process(const std::vector<TSimUnit*>& units, const std::vector<uint8_t>& frame,
                 Clock::time_point firstByte, int stopFd);
    bool Send(const std::vector<uint8_t>& bytes, int stopFd);

    int FMaster = -1;
    int FSlave = -1; // held open so the line survives masters coming and going
    std::string FPath;
    bool FWireSpeed = false;
    TTrafficSink* FTrace = nullptr;
};
