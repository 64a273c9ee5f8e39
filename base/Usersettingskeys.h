#pragma once
// Where the user settings live and the names of what is kept there, shared by the window, the
// command line and the simulator ("Software\Roduzede\Dezadizi Config Manager\" in the Windows
// registry, an INI file elsewhere).
#include <QString>

namespace UserSettings {

inline constexpr const char* Organization = "Roduzede";
inline constexpr const char* Application = "Dezadizi Config Manager";

// The device a comm port name opens: "Ports/COMn" holds its path.
inline QString PortKey(const QString& comName) {
    return QStringLiteral("Ports/") + comName;
}
inline QString PortKey(int comNumber) {
    return QStringLiteral("Ports/COM%1").arg(comNumber);
}

// The connect dialog's remembered choices.
inline constexpr const char* CommPortIndex = "CommPortIndex";
inline constexpr const char* Address = "Address";
inline constexpr const char* DeviceIndex = "DeviceIndex";
inline constexpr const char* Online = "Online";
// Online through a network gateway rather than a comm port, and the gateway's details.
inline constexpr const char* Gateway = "Gateway";
inline constexpr const char* GatewayHost = "GatewayHost";
inline constexpr const char* GatewayPort = "GatewayPort";
// 0 Modbus TCP, 1 RTU over TCP.
inline constexpr const char* GatewayKind = "GatewayKind";
inline constexpr const char* GatewayReplyTimeout = "GatewayReplyTimeout";
// Whether the changes are shown for review before a write.
inline constexpr const char* ReviewChangesBeforeWriting = "ReviewChangesBeforeWriting";
// The main window's place and size.
inline constexpr const char* WindowGeometry = "Window/Geometry";

} // namespace UserSettings
