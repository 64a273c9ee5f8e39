#pragma once
// A comm port without a line: records what the master does with it and plays back scripted
// replies, one per written frame.
#include "modbus/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class TFakeSerialPort : public SerialPort {
public:
    // What happened, in order: "open", "configure", "purge", "write", "flush", "read N/T" (N bytes
    // asked for with a time-out of T ms), "close".
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> written;
    // The reply to each written frame, in order; a missing one means silence.
    std::deque<std::vector<uint8_t>> replies;
    // Bytes on the line before the request: the quiet-line wait must swallow them.
    std::deque<uint8_t> received;
    // A line that never falls quiet: every read gets a byte after 1 ms.
    bool endlessNoise = false;
    int32_t openResult = Success;
    int32_t configureResult = Success;
    int32_t writeResult = Success;
    int32_t readFailure = Success; // returned by reads when set, instead of bytes
    int32_t quietMs = 0;           // how long the port says the line has been quiet

    int32_t Open(const std::string&) override {
        Record("open");
        if (openResult == NoSuchPort || openResult == AccessDenied)
            return openResult;
        open = true;
        return openResult;
    }
    int32_t Configure(int32_t, int32_t, int32_t, int32_t) override {
        Record("configure");
        return open ? configureResult : NotOpen;
    }
    int32_t Purge() override {
        Record("purge");
        return open ? Success : NotOpen;
    }
    int32_t Write(const uint8_t* buffer, int32_t length, int32_t) override {
        Record("write");
        if (!open)
            return NotOpen;
        if (writeResult != Success)
            return writeResult;
        written.emplace_back(buffer, buffer + length);
        if (!replies.empty()) {
            received.insert(received.end(), replies.front().begin(), replies.front().end());
            replies.pop_front();
        }
        return Success;
    }
    int32_t Read(uint8_t* buffer, int32_t length, int32_t timeoutMs) override {
        Record("read " + std::to_string(length) + "/" + std::to_string(timeoutMs));
        if (!open)
            return NotOpen;
        if (endlessNoise) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::fill_n(buffer, length, uint8_t{0x55});
            return Success;
        }
        if (readFailure != Success)
            return readFailure;
        const int32_t available =
            static_cast<int32_t>(std::min<size_t>(received.size(), static_cast<size_t>(length)));
        for (int32_t i = 0; i < available; ++i) {
            buffer[i] = received.front();
            received.pop_front();
        }
        return available == length ? Success : Timeout;
    }
    int32_t Flush() override {
        Record("flush");
        return open ? Success : NotOpen;
    }
    int32_t QuietMs() const override { return open ? quietMs : 0; }
    bool IsOpen() const override { return open; }
    void Close() override {
        Record("close");
        open = false;
    }

    // The calls after opening: the exchange as the port saw it.
    std::vector<std::string> ExchangeCalls() const {
        std::vector<std::string> result;
        for (const std::string& call : calls) {
            if (call != "open" && call != "configure")
                result.push_back(call);
        }
        return result;
    }

    bool open = false;
    // Also told of every call; outlives the port when the test keeps it.
    std::function<void(const std::string&)> onCall;

private:
    void Record(const std::string& call) {
        calls.push_back(call);
        if (onCall)
            onCall(call);
    }
};
