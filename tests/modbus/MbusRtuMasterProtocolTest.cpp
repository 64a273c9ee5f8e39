#include "modbus/MbusRtuMasterProtocol.h"

#include "FakeSerialPort.h"
#include "RecordingSink.h"

#include <chrono>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;

// The CRCs in these frames were worked out with an independent script, not with our code.
const Bytes ReadOneHolding = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
const Bytes HoldingReply0x1234 = {0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33};
const Bytes HoldingReplyFromSlave2 = {0x02, 0x03, 0x02, 0x12, 0x34, 0xF1, 0x33};
const Bytes IllegalAddressException = {0x01, 0x83, 0x02, 0xC0, 0xF1};
const Bytes ExceptionCode6 = {0x01, 0x83, 0x06, 0xC1, 0x32};

struct OpenMaster {
    TFakeSerialPort* port;
    std::unique_ptr<MbusRtuMasterProtocol> master;
};

OpenMaster MakeOpenMaster(int32_t retries = 1) {
    auto owned = std::make_unique<TFakeSerialPort>();
    TFakeSerialPort* port = owned.get();
    auto master = std::make_unique<MbusRtuMasterProtocol>(std::move(owned));
    EXPECT_EQ(master->SetRetryCount(retries), 0);
    EXPECT_EQ(master->Open("COM1", 9600, 8, 1, 0), 0);
    master->SetTimeout(50);
    port->calls.clear();
    return {port, std::move(master)};
}

Bytes WithBadCrc(Bytes frame) {
    frame.back() ^= 0xFF;
    return frame;
}

} // namespace

TEST(RtuMaster, FramesAreByteExact) {
    auto [port, master] = MakeOpenMaster();
    port->replies = {HoldingReply0x1234};
    int16_t value = 0;
    ASSERT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(port->written.at(0), ReadOneHolding);
    EXPECT_EQ(value, 0x1234);

    // Ten coils: a 7-byte reply frame (slave, function, byte count 2, two data bytes, CRC),
    // read as the first five bytes and then the remaining two.
    port->calls.clear();
    port->replies = {{0x01, 0x01, 0x02, 0xA5, 0x03, 0x82, 0xAD}};
    int32_t coils[10];
    ASSERT_EQ(master->ReadCoils(1, 1, coils, 10), 0);
    EXPECT_EQ(port->written.at(1), (Bytes{0x01, 0x01, 0x00, 0x00, 0x00, 0x0A, 0xBC, 0x0D}));
    EXPECT_EQ(port->calls, (Calls{"purge", "read 1/5", "write", "flush", "read 5/50", "read 2/50"}));
    EXPECT_EQ(std::vector<int32_t>(coils, coils + 10), (std::vector<int32_t>{1, 0, 1, 0, 0, 1, 0, 1, 1, 1}));

    port->replies = {{0x01, 0x05, 0x00, 0xAC, 0xFF, 0x00, 0x4C, 0x1B}};
    ASSERT_EQ(master->WriteSingleCoil(1, 173, true), 0);
    EXPECT_EQ(port->written.at(2), (Bytes{0x01, 0x05, 0x00, 0xAC, 0xFF, 0x00, 0x4C, 0x1B}));

    port->replies = {{0x01, 0x06, 0x00, 0x01, 0x00, 0x03, 0x98, 0x0B}};
    ASSERT_EQ(master->WriteSingleRegister(1, 2, 3), 0);
    EXPECT_EQ(port->written.at(3), (Bytes{0x01, 0x06, 0x00, 0x01, 0x00, 0x03, 0x98, 0x0B}));

    // The commit write a write run ends with: 123 to reference 9999, wire address 9998.
    port->replies = {{0x01, 0x06, 0x27, 0x0E, 0x00, 0x7B, 0xA2, 0x9E}};
    ASSERT_EQ(master->WriteSingleRegister(1, 9999, 123), 0);
    EXPECT_EQ(port->written.at(4), (Bytes{0x01, 0x06, 0x27, 0x0E, 0x00, 0x7B, 0xA2, 0x9E}));
}

TEST(RtuMaster, TheTrafficSinkGetsEveryFrameAndEachReplyThatDidNotCome) {
    auto [port, master] = MakeOpenMaster(1);
    TRecordingSink sink;
    master->SetTrafficSink(&sink);
    int16_t value = 0;
    port->replies = {HoldingReply0x1234, {0x01, 0x03, 0x02, 0x12, 0x34}};
    ASSERT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), 0);
    // The head of a reply and then silence, and on the repetition not even that.
    ASSERT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    master->SetTrafficSink(nullptr);
    ASSERT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    const std::string request =
        "sent: slave 1, Read Holding Registers, reference 1 (wire 0), count 1, CRC ok";
    EXPECT_EQ(
        sink.Lines(),
        (Calls{request, "received: slave 1, Read Holding Registers, byte count 2, data 12 34, CRC ok",
               request, "received: slave 1, Read Holding Registers, byte count 2, data 12 34, truncated",
               "no reply: no reply", request, "no reply: no reply"}));
}

TEST(RtuMaster, ReplyChecksComeInOrder) {
    int16_t value = 0;
    {
        // A wrong CRC wins over a wrong address.
        auto [port, master] = MakeOpenMaster(0);
        port->replies = {WithBadCrc(HoldingReplyFromSlave2)};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_CHECKSUM_ERROR);
    }
    {
        auto [port, master] = MakeOpenMaster(0);
        port->replies = {HoldingReplyFromSlave2};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_INVALID_FRAME_ERROR);
    }
    {
        // A good frame for another function code.
        auto [port, master] = MakeOpenMaster(0);
        port->replies = {{0x01, 0x04, 0x02, 0x00, 0x11, 0x79, 0x3C}};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_INVALID_FRAME_ERROR);
    }
    {
        // An exception reply from another slave is a framing fault, not an exception.
        auto [port, master] = MakeOpenMaster(0);
        Bytes frame(5);
        MbusRtuMasterProtocol::BuildFrame(frame.data(), 2, 0x83, Bytes{0x02}.data(), 1);
        port->replies = {frame};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_INVALID_FRAME_ERROR);
    }
    {
        // A full-length reply whose byte count is wrong passes the frame checks and fails in
        // the function layer.
        auto [port, master] = MakeOpenMaster(0);
        Bytes reply = {0x01, 0x03, 0x02, 0x12, 0x34, 0x56, 0x78};
        reply.resize(9);
        MbusRtuMasterProtocol::BuildFrame(reply.data(), 1, 3, Bytes{0x02, 0x12, 0x34, 0x56, 0x78}.data(), 5);
        port->replies = {reply};
        int16_t two[2];
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, two, 2), FTALK_INVALID_REPLY_ERROR);
    }
}

TEST(RtuMaster, ExceptionRepliesAreNotRepeated) {
    auto [port, master] = MakeOpenMaster(3);
    port->replies = {IllegalAddressException};
    int16_t value = 0;
    EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
    EXPECT_EQ(port->written.size(), 1u);
    // Only five bytes were read: the exception frame's length.
    EXPECT_EQ(port->ExchangeCalls().back(), "read 5/50");

    port->replies = {ExceptionCode6};
    EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), 166);
    EXPECT_EQ(ErrorText(166), "Unknwon error");
}

TEST(RtuMaster, LineFaultsAreRepeatedRetryCountTimes) {
    int16_t value = 0;
    {
        auto [port, master] = MakeOpenMaster(1);
        port->replies = {WithBadCrc(HoldingReply0x1234), WithBadCrc(HoldingReply0x1234)};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_CHECKSUM_ERROR);
        EXPECT_EQ(port->written.size(), 2u);
    }
    {
        auto [port, master] = MakeOpenMaster(1);
        port->replies = {HoldingReplyFromSlave2, HoldingReplyFromSlave2, HoldingReplyFromSlave2};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_INVALID_FRAME_ERROR);
        EXPECT_EQ(port->written.size(), 2u);
    }
    {
        // Silence, three times over, then an answer on the fourth try.
        auto [port, master] = MakeOpenMaster(3);
        port->replies = {{}, {}, {}, HoldingReply0x1234};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), 0);
        EXPECT_EQ(port->written.size(), 4u);
        EXPECT_EQ(value, 0x1234);
    }
    {
        // A reply that is really shorter than expected runs into the reply time-out.
        auto [port, master] = MakeOpenMaster(0);
        port->replies = {{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5}};
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    }
}

TEST(RtuMaster, PortFailuresAreNotRepeated) {
    int16_t value = 0;
    {
        auto [port, master] = MakeOpenMaster(2);
        port->writeResult = SerialPort::Timeout;
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_SEND_TIMEOUT_ERROR);
        port->writeResult = SerialPort::GeneralFailure;
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_IO_ERROR);
        // Two attempts, one write each, and nothing read after a failed send.
        EXPECT_EQ(port->calls,
                  (Calls{"purge", "read 1/5", "write", "flush", "purge", "read 1/5", "write", "flush"}));
    }
    {
        auto [port, master] = MakeOpenMaster(2);
        port->readFailure = SerialPort::GeneralFailure;
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_IO_ERROR);
        EXPECT_EQ(port->written.size(), 1u);
    }
}

TEST(RtuMaster, BroadcastSendsWithoutWaitingForAReply) {
    auto [port, master] = MakeOpenMaster();
    ASSERT_EQ(master->WriteSingleRegister(0, 5, 7), 0);
    EXPECT_EQ(port->written.at(0), (Bytes{0x00, 0x06, 0x00, 0x04, 0x00, 0x07, 0x88, 0x18}));
    EXPECT_EQ(port->calls, (Calls{"purge", "read 1/5", "write", "flush"}));
    int16_t value = 0;
    EXPECT_EQ(master->ReadHoldingRegisters(0, 1, &value, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(port->written.size(), 1u);
}

TEST(RtuMaster, QuietLineWaitSwallowsNoiseAndGivesUpOnAnEndlessStream) {
    {
        auto [port, master] = MakeOpenMaster();
        port->received = {0xAA, 0xBB, 0xCC};
        port->replies = {HoldingReply0x1234};
        int16_t value = 0;
        ASSERT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), 0);
        EXPECT_EQ(value, 0x1234);
        EXPECT_EQ(port->calls, (Calls{"purge", "read 1/5", "read 1/5", "read 1/5", "read 1/5", "write",
                                      "flush", "read 5/50", "read 2/50"}));
    }
    {
        auto [port, master] = MakeOpenMaster(1);
        port->endlessNoise = true;
        int16_t value = 0;
        // Bounded by the time-out: an unbounded wait would never return at all.
        EXPECT_EQ(master->ReadHoldingRegisters(1, 1, &value, 1), FTALK_IO_ERROR);
        EXPECT_TRUE(port->written.empty());
    }
}

TEST(RtuMaster, QuietLineCountsTheTimeTheLineWasAlreadyQuiet) {
    auto [port, master] = MakeOpenMaster();
    port->quietMs = 3; // 2 ms of the 5 are left; the byte asks for all 5 again
    port->received = {0xAA};
    ASSERT_EQ(master->WriteSingleCoil(0, 1, true), 0);
    EXPECT_EQ(port->calls, (Calls{"purge", "read 1/2", "read 1/5", "write", "flush"}));
}

TEST(RtuMaster, ClosedMasterAndRetryCountState) {
    auto owned = std::make_unique<TFakeSerialPort>();
    TFakeSerialPort* port = owned.get();
    MbusRtuMasterProtocol master(std::move(owned));
    int16_t value = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_ILLEGAL_STATE_ERROR);
    EXPECT_TRUE(port->calls.empty());
    EXPECT_EQ(master.SetRetryCount(11), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.SetRetryCount(10), 0);
    ASSERT_EQ(master.Open("COM1", 9600, 8, 1, 0), 0);
    EXPECT_EQ(master.SetRetryCount(1), FTALK_ILLEGAL_STATE_ERROR);
    EXPECT_EQ(master.RetryCount(), 10);
    EXPECT_EQ(master.Open("COM1", 9600, 8, 1, 0), FTALK_ILLEGAL_STATE_ERROR);
    master.Close();
    EXPECT_FALSE(master.IsOpen());
    EXPECT_EQ(master.SetRetryCount(1), 0);
    master.Close();
}

TEST(RtuMaster, OpenResults) {
    {
        auto owned = std::make_unique<TFakeSerialPort>();
        TFakeSerialPort* port = owned.get();
        MbusRtuMasterProtocol master(std::move(owned));
        EXPECT_EQ(master.Open("COM1", 9600, 7, 1, 0), FTALK_ILLEGAL_ARGUMENT_ERROR);
        EXPECT_TRUE(port->calls.empty());
        port->openResult = SerialPort::AccessDenied;
        EXPECT_EQ(master.Open("COM1", 9600, 8, 1, 0), FTALK_PORT_ALREADY_OPEN);
        port->openResult = SerialPort::NoSuchPort;
        EXPECT_EQ(master.Open("COM1", 9600, 8, 1, 0), FTALK_OPEN_ERR);
        EXPECT_FALSE(master.IsOpen());
        // A line that refuses the configuration: 1, and the port stays open until Close.
        port->openResult = SerialPort::Success;
        port->configureResult = SerialPort::UnsupportedSetting;
        EXPECT_EQ(master.Open("COM1", 9600, 8, 1, 0), FTALK_ILLEGAL_ARGUMENT_ERROR);
        EXPECT_TRUE(master.IsOpen());
        master.Close();
        EXPECT_FALSE(master.IsOpen());
    }
    struct Case {
        int32_t baud;
        uint32_t interval;
    };
    for (const Case c : {Case{9600, 5}, Case{19200, 2}, Case{38400, 1}, Case{115200, 1}, Case{1200, 37}}) {
        MbusRtuMasterProtocol master(std::make_unique<TFakeSerialPort>());
        ASSERT_EQ(master.Open("COM1", c.baud, 8, 1, 0), 0);
        EXPECT_EQ(master.SilentInterval(), c.interval) << c.baud;
    }
}

TEST(RtuMaster, DestroyingTheMasterClosesItsPort) {
    auto owned = std::make_unique<TFakeSerialPort>();
    TFakeSerialPort* port = owned.get();
    auto master = std::make_unique<MbusRtuMasterProtocol>(std::move(owned));
    std::vector<std::string> journal;
    port->onCall = [&journal](const std::string& call) { journal.push_back(call); };
    ASSERT_EQ(master->Open("COM1", 9600, 8, 1, 0), 0);
    master.reset();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "close");
}
