#pragma once
// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF): the checksum of every RTU
// frame. Header-only so that the master and the simulated unit share one definition.
#include <array>
#include <cstddef>
#include <cstdint>

namespace Crc16Detail {
constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}
inline constexpr std::array<uint16_t, 256> Table = MakeTable();
} // namespace Crc16Detail

// The frame carries the result low byte first.
constexpr uint16_t Crc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ Crc16Detail::Table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

// Appends the CRC of the first `length` bytes behind them; returns the new length.
constexpr size_t AppendCrc16(uint8_t* frame, size_t length) {
    const uint16_t crc = Crc16(frame, length);
    frame[length] = static_cast<uint8_t>(crc & 0xFF);
    frame[length + 1] = static_cast<uint8_t>(crc >> 8);
    return length + 2;
}

// True when the last two bytes of the frame are the CRC of the bytes before them.
constexpr bool HasValidCrc16(const uint8_t* frame, size_t length) {
    if (length < 2)
        return false;
    const uint16_t crc = Crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}
