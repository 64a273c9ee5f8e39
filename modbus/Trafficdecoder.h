#pragma once
// What a traffic frame says, field by field, and its two renderings: a line of text for a
// trace file and the cells of a CSV row. The window's traffic table and the trace files of the
// command line and the simulator show the same decoding.
#include "modbus/Trafficframe.h"

#include <optional>
#include <string>
#include <vector>

struct TDecodedFrame {
    // Modbus TCP: from the MBAP header.
    std::optional<int32_t> transactionId;
    std::optional<int32_t> unitId;
    // RTU: the first byte.
    std::optional<int32_t> slave;
    // Without the exception bit; functionName from the one table (modbus/Modbusnames.h).
    std::optional<int32_t> function;
    std::string functionName;
    // The start or the address written: `reference` counts from 1 as the product does (the
    // commit is holding register 9999), `wireAddress` is what the frame carries (9998).
    std::optional<int32_t> reference;
    std::optional<int32_t> wireAddress;
    std::optional<int32_t> count;
    std::optional<int32_t> value;
    // A read reply, or a multiple write request.
    std::optional<int32_t> byteCount;
    std::vector<uint8_t> data;
    std::optional<int32_t> exceptionCode;
    std::string exceptionName;
    // RTU: "CRC ok" or "bad CRC"; empty for Modbus TCP, or for too few bytes to hold a CRC.
    std::string crc;
    // Too short for its function: the fields it has are filled, the others stay empty.
    bool truncated = false;
    // NoReply: how long the reply was waited for.
    std::optional<int32_t> waitedMs;

    // "slave 1, Write Single Register, reference 9999 (wire 9998), value 1, CRC ok";
    // "no reply after 1000 ms".
    std::string Text() const;
};

// A request and a reply of one function differ; the frame's direction and side tell which.
TDecodedFrame DecodeFrame(const TTrafficFrame& frame);
// True for a request: sent by a master, received by the unit.
bool IsRequest(const TTrafficFrame& frame);

// "sent", "received", "no reply".
std::string TrafficDirectionText(TTrafficDirection direction);
// "01 06 27 0e 00 01"
std::string TrafficHex(const std::vector<uint8_t>& bytes);

// One line, without its line end: microseconds since `originUs`, the target when given, the
// direction, the bytes and the decoding.
// "1520 us COM3@7 sent     01 06 27 0e 00 01 e2 3d | slave 1, Write Single Register, ..."
std::string TrafficLine(const TTrafficFrame& frame, int64_t originUs, const std::string& target = {});
// The header row and the cells of one frame, for base/Csv's TCsvWriter.
std::vector<std::string> TrafficCsvHeader();
std::vector<std::string> TrafficCsvCells(const TTrafficFrame& frame, int64_t originUs,
                                         const std::string& target = {});
