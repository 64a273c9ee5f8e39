#include "SimUnit.h"

#include "SimPort.h"

#include "modbus/Crc16.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

Bytes Reply(TSimUnit& unit, const Bytes& request) {
    return unit.Handle(request.data(), request.size()).bytes;
}

Bytes ExceptionReply(uint8_t function, uint8_t code) {
    return WithCrc({1, static_cast<uint8_t>(function | 0x80), code});
}

} // namespace

TEST(SimUnit, AnswersTheFiveFunctions) {
    TSimUnit unit;
    unit.SetDeviceId(17);
    // The request and reply frames were worked out by an independent script.
    unit.SetHoldingRegister(0, 0x1234);
    EXPECT_EQ(Reply(unit, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}),
              (Bytes{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));
    EXPECT_EQ(Reply(unit, WithCrc({1, 4, 0, 3, 0, 1})), (Bytes{0x01, 0x04, 0x02, 0x00, 0x11, 0x79, 0x3C}));

    // Coils 1..10 packed low bit first.
    for (int i : {0, 2, 5, 7, 8, 9})
        unit.SetCoil(i, true);
    EXPECT_EQ(Reply(unit, {0x01, 0x01, 0x00, 0x00, 0x00, 0x0A, 0xBC, 0x0D}),
              (Bytes{0x01, 0x01, 0x02, 0xA5, 0x03, 0x82, 0xAD}));

    const Bytes writeCoil = {0x01, 0x05, 0x00, 0xAC, 0xFF, 0x00, 0x4C, 0x1B};
    EXPECT_EQ(Reply(unit, writeCoil), writeCoil);
    EXPECT_TRUE(unit.Coil(0xAC));
    EXPECT_EQ(Reply(unit, WithCrc({1, 5, 0, 0xAC, 0, 0})), WithCrc({1, 5, 0, 0xAC, 0, 0}));
    EXPECT_FALSE(unit.Coil(0xAC));

    const Bytes writeRegister = {0x01, 0x06, 0x00, 0x01, 0x00, 0x03, 0x98, 0x0B};
    EXPECT_EQ(Reply(unit, writeRegister), writeRegister);
    EXPECT_EQ(unit.HoldingRegister(1), 3);

    // The top of the address space is reachable.
    unit.SetHoldingRegister(65535, 0xBEEF);
    EXPECT_EQ(Reply(unit, WithCrc({1, 3, 0xFF, 0xFF, 0, 1})), WithCrc({1, 3, 2, 0xBE, 0xEF}));
    EXPECT_EQ(unit.Requests(), 7);
}

TEST(SimUnit, CommitIsCounted) {
    TSimUnit unit;
    std::vector<std::string> log;
    unit.OnLog = [&log](const std::string& line) { log.push_back(line); };
    const Bytes commit = {0x01, 0x06, 0x27, 0x0E, 0x00, 0x7B, 0xA2, 0x9E};
    EXPECT_EQ(Reply(unit, commit), commit);
    EXPECT_EQ(Reply(unit, WithCrc({1, 6, 0x27, 0x0E, 0, 124})).size(), 8u); // not the commit value
    EXPECT_EQ(Reply(unit, WithCrc({1, 6, 0x27, 0x0F, 0, 123})).size(), 8u); // not the commit register
    EXPECT_EQ(unit.Commits(), 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("commit"), std::string::npos);
}

TEST(SimUnit, IllegalRequestsGetExceptionReplies) {
    TSimUnit unit;
    EXPECT_EQ(Reply(unit, WithCrc({1, 2, 0, 0, 0, 1})), ExceptionReply(2, 1));
    EXPECT_EQ(Reply(unit, WithCrc({1, 16, 0, 0, 0, 1, 2, 0, 5})), ExceptionReply(16, 1));
    EXPECT_EQ(Reply(unit, WithCrc({1, 0x2B, 0x0E, 1, 0})), ExceptionReply(0x2B, 1));
    // Counts outside 1..2000 coils, 1..125 registers.
    EXPECT_EQ(Reply(unit, WithCrc({1, 1, 0, 0, 0, 0})), ExceptionReply(1, 3));
    EXPECT_EQ(Reply(unit, WithCrc({1, 1, 0, 0, 0x07, 0xD1})), ExceptionReply(1, 3));
    EXPECT_EQ(Reply(unit, WithCrc({1, 1, 0, 0, 0x07, 0xD0})).size(), 5u + 250u);
    EXPECT_EQ(Reply(unit, WithCrc({1, 3, 0, 0, 0, 126})), ExceptionReply(3, 3));
    EXPECT_EQ(Reply(unit, WithCrc({1, 4, 0, 0, 0, 0})), ExceptionReply(4, 3));
    // Running past the last address.
    EXPECT_EQ(Reply(unit, WithCrc({1, 3, 0xFF, 0xFF, 0, 2})), ExceptionReply(3, 2));
    EXPECT_EQ(Reply(unit, WithCrc({1, 1, 0xFF, 0xF0, 0, 17})), ExceptionReply(1, 2));
    EXPECT_EQ(Reply(unit, WithCrc({1, 4, 0xFF, 0xFF, 0, 2})), ExceptionReply(4, 2));
    // A coil is written with FF00 or 0000 only.
    EXPECT_EQ(Reply(unit, WithCrc({1, 5, 0, 1, 0x12, 0x34})), ExceptionReply(5, 3));
    EXPECT_FALSE(unit.Coil(1));
    // A known function with the wrong length.
    EXPECT_EQ(Reply(unit, WithCrc({1, 3, 0, 0, 0, 1, 0})), ExceptionReply(3, 3));
}

TEST(SimUnit, StaysSilentForOthersBroadcastsAndBadFrames) {
    TSimUnit unit;
    EXPECT_TRUE(Reply(unit, WithCrc({2, 6, 0, 1, 0, 9})).empty());
    EXPECT_EQ(unit.HoldingRegister(1), 0);
    Bytes corrupt = WithCrc({1, 6, 0, 1, 0, 9});
    corrupt[7] ^= 0x40;
    EXPECT_TRUE(Reply(unit, corrupt).empty());
    EXPECT_EQ(unit.HoldingRegister(1), 0);
    EXPECT_TRUE(Reply(unit, {1, 3}).empty());
    // A broadcast write is carried out without a reply; a broadcast read is ignored.
    EXPECT_TRUE(Reply(unit, WithCrc({0, 6, 0, 1, 0, 9})).empty());
    EXPECT_EQ(unit.HoldingRegister(1), 9);
    EXPECT_TRUE(Reply(unit, WithCrc({0, 3, 0, 1, 0, 1})).empty());
}

TEST(SimUnit, RequestLengthFromTheFunctionCode) {
    const Bytes read = {1, 3, 0, 0, 0, 1, 0, 0};
    EXPECT_EQ(TSimUnit::RequestLength(read.data(), 1), 0u);
    EXPECT_EQ(TSimUnit::RequestLength(read.data(), 2), 8u);
    const Bytes multiple = {1, 16, 0, 0, 0, 2, 4};
    EXPECT_EQ(TSimUnit::RequestLength(multiple.data(), 6), 0u);
    EXPECT_EQ(TSimUnit::RequestLength(multiple.data(), 7), 13u);
    const Bytes unknown = {1, 0x2B};
    EXPECT_EQ(TSimUnit::RequestLength(unknown.data(), 2), 0u);
}

TEST(SimUnit, FaultsShapeTheReply) {
    const Bytes request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    const Bytes good = {0x01, 0x03, 0x02, 0x00, 0x00, 0xB8, 0x44};
    {
        TSimUnit unit;
        unit.AddFault(TSimFault::BadCrc, 0.0);
        EXPECT_EQ(Reply(unit, request), good);
    }
    struct Case {
        TSimFault fault;
        std::function<void(const TSimReply&)> check;
    };
    const Case cases[] = {
        {TSimFault::NoReply, [](const TSimReply& r) { EXPECT_TRUE(r.bytes.empty()); }},
        {TSimFault::BadCrc,
         [&](const TSimReply& r) {
             ASSERT_EQ(r.bytes.size(), good.size());
             EXPECT_TRUE(std::equal(good.begin(), good.end() - 2, r.bytes.begin()));
             EXPECT_FALSE(HasValidCrc16(r.bytes.data(), r.bytes.size()));
         }},
        {TSimFault::WrongSlave,
         [](const TSimReply& r) {
             EXPECT_EQ(r.bytes, (Bytes{0x02, 0x03, 0x02, 0x00, 0x00, 0xFC, 0x44}));
         }},
        {TSimFault::Exception, [](const TSimReply& r) { EXPECT_EQ(r.bytes, ExceptionReply(3, 4)); }},
        {TSimFault::Garbage,
         [&](const TSimReply& r) {
             EXPECT_EQ(r.bytes.size(), good.size());
             EXPECT_FALSE(HasValidCrc16(r.bytes.data(), r.bytes.size()));
         }},
        {TSimFault::Truncated,
         [&](const TSimReply& r) {
             EXPECT_LT(r.bytes.size(), good.size());
             EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), good.begin()));
         }},
        {TSimFault::Slow,
         [&](const TSimReply& r) {
             EXPECT_EQ(r.bytes, good);
             EXPECT_EQ(r.delayMs, 321);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        TSimUnit unit;
        unit.SetSlowDelayMs(321);
        unit.AddFault(c.fault, 1.0);
        for (int i = 0; i < 20; ++i)
            c.check(unit.Handle(request.data(), request.size()));
    }
}

TEST(SimUnit, AFaultAtARequestSpoilsThatOneOnly) {
    TSimUnit unit;
    unit.SetSlowDelayMs(400);
    unit.SetFaultFreeRequests(10);
    unit.AddFaultAt(TSimFault::Slow, 2);
    unit.AddFaultAt(TSimFault::NoReply, 4);
    const Bytes request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    std::vector<int32_t> delays;
    std::vector<size_t> lengths;
    for (int i = 0; i < 5; ++i) {
        const TSimReply reply = unit.Handle(request.data(), request.size());
        delays.push_back(reply.delayMs);
        lengths.push_back(reply.bytes.size());
    }
    EXPECT_EQ(delays, (std::vector<int32_t>{0, 400, 0, 0, 0}));
    EXPECT_EQ(lengths, (std::vector<size_t>{7, 7, 7, 0, 7}));
}

TEST(SimUnit, FaultRateIsAShareOfReplies) {
    TSimUnit unit;
    unit.SetSeed(7);
    unit.AddFault(TSimFault::NoReply, 0.25);
    const Bytes request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    int silent = 0;
    for (int i = 0; i < 4000; ++i)
        silent += Reply(unit, request).empty();
    EXPECT_GT(silent, 800);
    EXPECT_LT(silent, 1200);
}

TEST(SimUnit, StateFileRoundTripsAndRefusesForeignFiles) {
    TTempDir dir;
    const std::string path = dir.Path("unit.state");
    {
        TSimUnit unit;
        unit.SetCoil(0, true);
        unit.SetCoil(65535, true);
        unit.SetHoldingRegister(9998, 123);
        unit.SetHoldingRegister(65535, 0xFFFF);
        EXPECT_EQ(Reply(unit, WithCrc({1, 6, 0, 7, 0xAB, 0xCD})).size(), 8u);
        EXPECT_TRUE(unit.Dirty());
        ASSERT_TRUE(unit.SaveState(path));
        EXPECT_FALSE(unit.Dirty());
    }
    // Only the state file: the temporary one was renamed over it.
    EXPECT_EQ(QDir(QString::fromStdString(dir.Path(""))).entryList(QDir::Files).size(), 1);
    TSimUnit unit;
    ASSERT_TRUE(unit.LoadState(path));
    EXPECT_TRUE(unit.Coil(0));
    EXPECT_FALSE(unit.Coil(1));
    EXPECT_TRUE(unit.Coil(65535));
    EXPECT_EQ(unit.HoldingRegister(7), 0xABCD);
    EXPECT_EQ(unit.HoldingRegister(9998), 123);
    EXPECT_EQ(unit.HoldingRegister(65535), 0xFFFF);

    // A cut-off file is refused and the image stays as it was.
    const std::string content = ReadFileText(path);
    const std::string torn = dir.Write("torn.state", content.substr(0, content.size() / 2));
    std::string error;
    EXPECT_FALSE(unit.LoadState(torn, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(unit.HoldingRegister(7), 0xABCD);
    EXPECT_FALSE(unit.LoadState(dir.Path("missing.state")));
    EXPECT_FALSE(unit.SaveState(dir.Path("no-such-folder/unit.state"), &error));
}

TEST(SimReceiver, GapFreeNoiseIsHeldToOneFrameAndTheLineResynchronisesAtAQuietLine) {
    TSimReceiver receiver;
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0, 255);
    // 4 MB of noise without a gap: at 9600 baud more than an hour of a babbling line.
    size_t most = 0;
    for (int chunk = 0; chunk < 8192; ++chunk) {
        uint8_t bytes[512];
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(byte(random));
        for (const Bytes& frame : receiver.Receive(bytes, sizeof bytes))
            EXPECT_LE(frame.size(), 256u);
        most = std::max(most, receiver.Held());
    }
    EXPECT_LE(most, 256u);

    // A good frame glued to noise is noise too; after a quiet line it is a frame again.
    TSimUnit unit;
    unit.SetHoldingRegister(0, 0x1234);
    const Bytes request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    receiver.LineQuiet();
    const Bytes noise(300, 0x2B);
    EXPECT_TRUE(receiver.Receive(noise.data(), noise.size()).empty());
    EXPECT_TRUE(receiver.Receive(request.data(), request.size()).empty());
    EXPECT_TRUE(receiver.LineQuiet().empty());
    const auto frames = receiver.Receive(request.data(), request.size());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Reply(unit, frames[0]), (Bytes{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));
    EXPECT_EQ(receiver.Held(), 0u);
}
