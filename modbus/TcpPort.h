#pragma once
// The byte transport under the network masters: one TCP connection to one gateway, used
// blocking from the thread that talks to the unit (no event loop). Every operation returns a
// result code and never throws; reads are bounded by a deadline shared by a whole reply.
//
// The operations are virtual so that the masters can be exercised on a scripted port.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class QTcpSocket;

class TcpPort {
public:
    using Clock = std::chrono::steady_clock;

    // Result codes.
    static constexpr int32_t Success = 0;
    static constexpr int32_t HostNotFound = 1;
    static constexpr int32_t Refused = 2;
    static constexpr int32_t ConnectTimeout = 3;
    static constexpr int32_t GeneralFailure = 4; // connecting failed for another reason
    // The connection is gone: the peer closed or reset it, or it was never made.
    static constexpr int32_t Closed = 5;
    static constexpr int32_t Timeout = 6; // fewer bytes transferred than requested

    // Kept short: a gateway on the building's network answers at once or not at all.
    static constexpr int32_t ConnectTimeoutMs = 3000;
    // What the socket may hold unread; a reply is never longer than one frame.
    static constexpr int64_t ReadBufferBytes = 1024;

    TcpPort();
    virtual ~TcpPort();
    TcpPort(const TcpPort&) = delete;
    TcpPort& operator=(const TcpPort&) = delete;

    // Closes any connection first. `host` is a name or an address (IPv6 without brackets).
    virtual int32_t Connect(const std::string& host, uint16_t port);
    virtual bool IsConnected() const;
    virtual void Close();
    // Returns when the bytes are handed to the system, within `timeoutMs`.
    virtual int32_t Write(const uint8_t* buffer, int32_t length, int32_t timeoutMs);
    // Exactly `length` bytes, or Timeout when they have not all come by `deadline`; then
    // nothing is taken and what did come stays waiting.
    virtual int32_t Read(uint8_t* buffer, int32_t length, Clock::time_point deadline);
    // Bytes received and not read yet.
    virtual int64_t Waiting() const;
    // Throws away whatever has arrived and not been read. Closed when the peer has gone.
    virtual int32_t Discard();
    // The system's words for the last failure ("Connection refused").
    virtual std::string ErrorString() const;

private:
    int32_t Failure(int32_t code, const std::string& reason);

    std::unique_ptr<QTcpSocket> FSocket;
    std::string FError;
};
