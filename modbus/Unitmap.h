#pragma once
// The fixed facts of the unit every part of the program talks to: its serial line, its slave
// addresses, and the registers that are the same on every device type. The device types'
// own coils and registers come from the definition file.
#include <cstdint>

namespace Unitmap {

// The serial line is fixed: 9600 baud, 8 data bits, 1 stop bit, no parity.
inline constexpr int32_t BaudRate = 9600;
inline constexpr int32_t DataBits = 8;
inline constexpr int32_t StopBits = 1;
inline constexpr int32_t NoParity = 0;
// Bits a character takes on the line (start, 8 data, stop, and the gap of a real line rounded in).
inline constexpr int32_t CharacterBits = 11;

// The slave addresses a unit may answer, and the one it answers from the factory.
inline constexpr int32_t MinSlaveAddress = 1;
inline constexpr int32_t MaxSlaveAddress = 247;
inline constexpr int32_t DefaultSlaveAddress = 1;

// The unit reports its device id in input register reference 4 (wire address 3).
inline constexpr int32_t DeviceIdRegister = 4;
inline constexpr int32_t DeviceIdWireAddress = DeviceIdRegister - 1;

// A write run ends with the save command: 123 written to holding register reference 9999
// (wire address 9998).
inline constexpr int32_t CommitRegister = 9999;
inline constexpr int32_t CommitWireAddress = CommitRegister - 1;
inline constexpr int16_t CommitValue = 123;

} // namespace Unitmap
