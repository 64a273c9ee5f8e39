#include "modbus/Trafficdecoder.h"

#include "base/Csv.h"

#include <gtest/gtest.h>
#include <map>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto Sent = TTrafficDirection::Sent;
constexpr auto Received = TTrafficDirection::Received;

TTrafficFrame Rtu(TTrafficDirection direction, Bytes bytes, TTrafficSide side = TTrafficSide::Master) {
    return {0, direction, std::move(bytes), TTrafficFraming::Rtu, 0, side};
}

TTrafficFrame Tcp(TTrafficDirection direction, Bytes bytes) {
    return {0, direction, std::move(bytes), TTrafficFraming::Tcp, 0, TTrafficSide::Master};
}

// The CRCs were worked out with an independent script, not with our code.
TEST(Trafficdecoder, DecodesEveryFunctionBothWaysAndTheFaultsOfAFrame) {
    const struct {
        TTrafficFrame frame;
        std::string decoding;
    } cases[] = {
        {Rtu(Sent, {0x01, 0x01, 0x00, 0x13, 0x00, 0x13, 0x8C, 0x02}),
         "slave 1, Read Coils, reference 20 (wire 19), count 19, CRC ok"},
        {Rtu(Received, {0x01, 0x01, 0x03, 0xCD, 0x6B, 0x05, 0x42, 0x82}),
         "slave 1, Read Coils, byte count 3, data cd 6b 05, CRC ok"},
        {Rtu(Sent, {0x01, 0x02, 0x00, 0xC4, 0x00, 0x16, 0xB8, 0x39}),
         "slave 1, Read Discrete Inputs, reference 197 (wire 196), count 22, CRC ok"},
        {Rtu(Received, {0x01, 0x02, 0x03, 0xAC, 0xDB, 0x35, 0x22, 0x88}),
         "slave 1, Read Discrete Inputs, byte count 3, data ac db 35, CRC ok"},
        {Rtu(Sent, {0x01, 0x03, 0x27, 0x0E, 0x00, 0x02, 0xAF, 0x7C}),
         "slave 1, Read Holding Registers, reference 9999 (wire 9998), count 2, CRC ok"},
        {Rtu(Received, {0x01, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02, 0x2A, 0x32}),
         "slave 1, Read Holding Registers, byte count 4, data 00 01 00 02, CRC ok"},
        {Rtu(Sent, {0x01, 0x04, 0x00, 0x08, 0x00, 0x01, 0xB0, 0x08}),
         "slave 1, Read Input Registers, reference 9 (wire 8), count 1, CRC ok"},
        {Rtu(Received, {0x01, 0x04, 0x02, 0x00, 0x0A, 0x39, 0x37}),
         "slave 1, Read Input Registers, byte count 2, data 00 0a, CRC ok"},
        {Rtu(Sent, {0x01, 0x05, 0x00, 0xAC, 0xFF, 0x00, 0x4C, 0x1B}),
         "slave 1, Write Single Coil, reference 173 (wire 172), value on, CRC ok"},
        {Rtu(Received, {0x01, 0x05, 0x00, 0xAC, 0xFF, 0x00, 0x4C, 0x1B}),
         "slave 1, Write Single Coil, reference 173 (wire 172), value on, CRC ok"},
        {Rtu(Sent, {0x07, 0x06, 0x27, 0x0E, 0x00, 0x01, 0x23, 0x1B}),
         "slave 7, Write Single Register, reference 9999 (wire 9998), value 1, CRC ok"},
        {Rtu(Received, {0x07, 0x06, 0x27, 0x0E, 0x00, 0x01, 0x23, 0x1B}),
         "slave 7, Write Single Register, reference 9999 (wire 9998), value 1, CRC ok"},
        {Rtu(Sent, {0x01, 0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01, 0x72, 0xCB}),
         "slave 1, Write Multiple Coils, reference 20 (wire 19), count 10, byte count 2, data cd 01, CRC ok"},
        {Rtu(Received, {0x01, 0x0F, 0x00, 0x13, 0x00, 0x0A, 0x24, 0x09}),
         "slave 1, Write Multiple Coils, reference 20 (wire 19), count 10, CRC ok"},
        {Rtu(Sent, {0x01, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02, 0x92, 0x30}),
         "slave 1, Write Multiple Registers, reference 2 (wire 1), count 2, byte count 4, data 00 0a 01 02, "
         "CRC ok"},
        {Rtu(Received, {0x01, 0x10, 0x00, 0x01, 0x00, 0x02, 0x10, 0x08}),
         "slave 1, Write Multiple Registers, reference 2 (wire 1), count 2, CRC ok"},
        {Rtu(Sent, {0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77}),
         "slave 1, function 43, data 0e 01 00, CRC ok"},
        {Rtu(Received, {0x01, 0x83, 0x02, 0xC0, 0xF1}),
         "slave 1, Read Holding Registers exception, Illegal Data Address, CRC ok"},
        {Rtu(Received, {0x01, 0x86, 0x07, 0x03, 0xA2}),
         "slave 1, Write Single Register exception, exception 7, CRC ok"},
        {Rtu(Received, {0x01, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02, 0x2A, 0x33}),
         "slave 1, Read Holding Registers, byte count 4, data 00 01 00 02, bad CRC"},
        // What came of a reply before the wait ended, and a request cut short.
        {Rtu(Received, {0x01, 0x03, 0x04, 0x00, 0x01}),
         "slave 1, Read Holding Registers, byte count 4, data 00 01, truncated"},
        {Rtu(Sent, {0x01, 0x03, 0x27}), "slave 1, Read Holding Registers, truncated"},
        // The unit's side: what it receives is the request.
        {Rtu(Received, {0x01, 0x03, 0x27, 0x0E, 0x00, 0x02, 0xAF, 0x7C}, TTrafficSide::Unit),
         "slave 1, Read Holding Registers, reference 9999 (wire 9998), count 2, CRC ok"},
        {Tcp(Sent, {0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0x07, 0x03, 0x27, 0x0E, 0x00, 0x01}),
         "transaction 5, unit 7, Read Holding Registers, reference 9999 (wire 9998), count 1"},
        {Tcp(Received, {0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x07, 0x03, 0x02, 0x00, 0x2A}),
         "transaction 5, unit 7, Read Holding Registers, byte count 2, data 00 2a"},
        {Tcp(Received, {0x00, 0x06, 0x00, 0x00, 0x00, 0x03, 0x07, 0x83, 0x0A}),
         "transaction 6, unit 7, Read Holding Registers exception, Gateway Path Unavailable"},
        {{0, TTrafficDirection::NoReply, {}, TTrafficFraming::Rtu, 1000}, "no reply after 1000 ms"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeFrame(c.frame).Text(), c.decoding) << TrafficHex(c.frame.bytes);

    // The renderings: counted from the run's start, the target named, the fields in their cells.
    TTrafficFrame commit = cases[10].frame;
    commit.timeUs = 2500;
    EXPECT_EQ(TrafficLine(commit, 1000, "COM3@7"),
              "1500 us COM3@7 sent     07 06 27 0e 00 01 23 1b | slave 7, Write Single Register, "
              "reference 9999 (wire 9998), value 1, CRC ok");
    TCsvWriter csv;
    csv.AddRow(TrafficCsvHeader());
    csv.AddRow(TrafficCsvCells(commit, 1000, "COM3@7"));
    const auto rows = ParseCsv(csv.Text());
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].size(), rows[0].size());
    std::map<std::string, std::string> cells;
    for (size_t i = 0; i < rows[0].size(); ++i)
        cells[rows[0][i]] = rows[1][i];
    EXPECT_EQ(cells["time (us)"], "1500");
    EXPECT_EQ(cells["function name"], "Write Single Register");
    EXPECT_EQ(cells["reference"], "9999");
    EXPECT_EQ(cells["wire address"], "9998");
    EXPECT_EQ(cells["value"], "1");
    EXPECT_EQ(cells["CRC"], "CRC ok");
}

} // namespace
