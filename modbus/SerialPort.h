#pragma once
// The byte transport under the serial Modbus master: a comm port opened exclusively by name,
// set to a line configuration, with reads and writes bounded by a total time-out measured from
// the start of each call. Every operation returns a result code and never throws.
//
// The operations are virtual so that the master can be exercised on a scripted port in tests.
#include "modbus/Unitmap.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <termios.h>

class SerialPort {
public:
    // Result codes.
    static constexpr int32_t Success = 0;
    static constexpr int32_t UnsupportedSetting = 4353; // bad data bits, stop bits, parity, or refused
    static constexpr int32_t GeneralFailure = 4354;     // a system call failed
    static constexpr int32_t NoSuchPort = 4355;
    static constexpr int32_t AccessDenied = 4356; // typically: another program holds the port
    static constexpr int32_t NotOpen = 4357;
    static constexpr int32_t Timeout = 4358; // fewer bytes transferred than requested
    // The user may not open the device (on Linux: outside the group that owns it). Windows
    // reports this as access denied; here it is told apart so the message can say what to do.
    static constexpr int32_t PermissionDenied = 4359;

    SerialPort() = default;
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port and sets 9600 baud, 8 data bits, 1 stop bit, no parity.
    virtual int32_t Open(const std::string& name);
    // Data bits 7 or 8; stop bits 1 or 2; parity 0 none, 1 odd, 2 even.
    virtual int32_t Configure(int32_t baudRate, int32_t dataBits, int32_t stopBits, int32_t parity);
    // Discards what waits to be sent and what was received but not read.
    virtual int32_t Purge();
    virtual int32_t Write(const uint8_t* buffer, int32_t length, int32_t timeoutMs);
    virtual int32_t Read(uint8_t* buffer, int32_t length, int32_t timeoutMs);
    // Returns when every written byte has left the line, or Timeout when they have not left
    // within the time they need plus FlushMarginMs.
    virtual int32_t Flush();
    static constexpr int32_t FlushMarginMs = 100;
    // Whole milliseconds since a byte last crossed the line as far as this port can tell: one
    // read, written, or found waiting by Purge; the line counts as heard when it was opened.
    // 0 when closed. The master's quiet line before a request is counted from there.
    virtual int32_t QuietMs() const;
    virtual bool IsOpen() const;
    // Purges, puts back the line settings found at open and releases the port.
    virtual void Close();

    // "COMn" is the path stored in the user settings under "Ports/COMn", else /dev/ttyS{n-1};
    // a name starting with '/' is a path; anything else is taken as it is.
    static std::string ResolvePortName(const std::string& name);
    static constexpr int32_t MinSlaveAddress = Unitmap::MinSlaveAddress;
    static constexpr int32_t MaxSlaveAddress = Unitmap::MaxSlaveAddress;

private:
    int PurgeQueues() const;

    void Heard() { FLastHeard = std::chrono::steady_clock::now(); }

    int FHandle = -1;
    std::chrono::steady_clock::time_point FLastHeard{};
    termios FSavedSettings{};
    bool FHaveSavedSettings = false;
    bool FPseudoTerminal = false;
};
