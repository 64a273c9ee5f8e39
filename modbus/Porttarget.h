#pragma once
// Where a unit is reached, as a user names it: a comm port name, a device path or a network
// gateway, with the unit's slave address on that line. The window, the command line, the
// simulator and the record's filters all read it here, so they take the same forms and refuse
// them alike.
#include <cstdint>
#include <optional>
#include <string>

// The comm port names the program offers (COM1 to COM20).
inline constexpr int32_t ComPortCount = 20;

enum class TPortKind {
    ComPort,    // "COMn": opened as the path the user settings map it to, else /dev/ttyS{n-1}
    Path,       // a device path starting with '/'
    ModbusTcp,  // "tcp://HOST[:PORT]": Modbus TCP to a gateway, port 502 unless given
    RtuOverTcp, // "rtu+tcp://HOST:PORT": RTU frames over TCP to a gateway
};

// The Modbus TCP port a gateway listens on unless the target names another.
inline constexpr int32_t ModbusTcpDefaultPort = 502;

// "COM3", "COM3@12", "/dev/ttyUSB0@2". `port` is the comm port number the serial manager opens
// (a path is opened under port 1); `name` is "COMn" or the path; `address` is 1 unless the
// text gave one, which `addressGiven` tells. A gateway has its `host` (lower-cased, an IPv6
// address without its brackets) and `networkPort`; its `name` is its GatewayText.
struct TPortTarget {
    TPortKind kind = TPortKind::ComPort;
    int32_t port = 1;
    std::string name;
    int32_t address = 1;
    bool addressGiven = false;
    std::string host;
    int32_t networkPort = 0;
};

// "COMn" (any letter case, n from 1, at most four digits), a path starting with '/',
// "tcp://HOST[:PORT]" or "rtu+tcp://HOST:PORT" (HOST a name, an IPv4 address or an IPv6
// address in brackets), with an optional "@ADDR" (1 to 247, the addresses a unit may answer).
// Gives nothing, and the reason in `error`, for anything else.
std::optional<TPortTarget> ParsePortTarget(const std::string& text, std::string* error = nullptr);

// A gateway as one text, "tcp://10.0.0.5:502": the scheme lower-case, the port always written.
// Two targets reach the same gateway when these are equal. Empty for a serial port.
std::string GatewayText(const TPortTarget& target);

// "COMn" for comm port number n.
std::string ComPortName(int32_t number);
