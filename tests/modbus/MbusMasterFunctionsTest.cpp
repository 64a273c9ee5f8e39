#include "modbus/MbusMasterFunctions.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// A master whose transport records each request and answers with a prepared reply.
class TFakeMaster : public MbusMasterFunctions {
public:
    struct Request {
        int32_t slave, function;
        std::vector<uint8_t> data;
        int32_t replyLength;
    };
    std::vector<Request> requests;
    std::vector<uint8_t> reply;
    int32_t result = 0;
    bool open = false;

    bool IsOpen() const override { return open; }
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* replyOut, int32_t replyLength) override {
        requests.push_back(
            {slave, function, std::vector<uint8_t>(request, request + requestLength), replyLength});
        if (result != 0)
            return result;
        for (int32_t i = 0; i < replyLength && i < static_cast<int32_t>(reply.size()); ++i)
            replyOut[i] = reply[static_cast<size_t>(i)];
        return 0;
    }
};

} // namespace

TEST(MasterFunctions, ReadCoilsBuildsRequestAndUnpacksBits) {
    TFakeMaster master;
    master.reply = {2, 0b10100101, 0b00000011};
    std::vector<int32_t> values(10, 7);
    ASSERT_EQ(master.ReadCoils(1, 1, values.data(), 10), 0);
    ASSERT_EQ(master.requests.size(), 1u);
    EXPECT_EQ(master.requests[0].function, 1);
    EXPECT_EQ(master.requests[0].data, (std::vector<uint8_t>{0, 0, 0, 10}));
    EXPECT_EQ(master.requests[0].replyLength, 3);
    EXPECT_EQ(values, (std::vector<int32_t>{1, 0, 1, 0, 0, 1, 0, 1, 1, 1}));
}

TEST(MasterFunctions, ReadRegistersBigEndianSigned) {
    TFakeMaster master;
    master.reply = {4, 0x12, 0x34, 0xFF, 0xFE};
    int16_t values[2];
    ASSERT_EQ(master.ReadHoldingRegisters(1, 0x1001, values, 2), 0);
    EXPECT_EQ(master.requests[0].function, 3);
    EXPECT_EQ(master.requests[0].data, (std::vector<uint8_t>{0x10, 0x00, 0, 2}));
    EXPECT_EQ(values[0], 0x1234);
    EXPECT_EQ(values[1], -2);
    master.reply = {2, 0x00, 0x11};
    ASSERT_EQ(master.ReadInputRegisters(1, 4, values, 1), 0);
    EXPECT_EQ(values[0], 0x11);
    EXPECT_EQ(master.requests[1].function, 4);
    EXPECT_EQ(master.requests[1].data, (std::vector<uint8_t>{0, 3, 0, 1}));
}

TEST(MasterFunctions, WrongByteCountIsAnInvalidReplyAndLeavesZeros) {
    TFakeMaster master;
    master.reply = {2, 0x12, 0x34, 0x56, 0x78};
    int16_t values[2] = {5, 5};
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, values, 2), FTALK_INVALID_REPLY_ERROR);
    int32_t coils[9];
    master.reply = {1, 0xFF};
    EXPECT_EQ(master.ReadCoils(1, 1, coils, 9), FTALK_INVALID_REPLY_ERROR);
    master.result = FTALK_REPLY_TIMEOUT_ERROR;
    values[0] = 9;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, values, 2), FTALK_REPLY_TIMEOUT_ERROR);
    EXPECT_EQ(values[0], 0);
}

TEST(MasterFunctions, ArgumentLimitsSendNothing) {
    TFakeMaster master;
    int16_t regs[126];
    int32_t coils[2001];
    coils[0] = 5;
    EXPECT_EQ(master.ReadCoils(1, 0, coils, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(coils[0], 0) << "the array is cleared even when the arguments are refused";
    EXPECT_EQ(master.ReadCoils(0, 1, coils, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.ReadCoils(256, 1, coils, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.ReadCoils(1, 65537, coils, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.ReadCoils(1, 1, coils, 2001), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.ReadCoils(1, 1, coils, 0), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, regs, 126), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.ReadInputRegisters(1, 0, regs, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.WriteSingleCoil(-1, 1, true), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.WriteSingleRegister(1, 0, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.WriteSingleRegister(1, 65537, 1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_TRUE(master.requests.empty());

    master.reply.assign(250, 0);
    master.reply[0] = 250;
    EXPECT_EQ(master.ReadCoils(1, 65536, coils, 2000), 0) << "2000 coils from the last reference is accepted";
    master.reply[0] = 250;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, regs, 125), 0);
}

TEST(MasterFunctions, WriteRepliesAreCheckedAgainstTheValueSent) {
    TFakeMaster master;
    master.reply = {0, 4, 0xFF, 0x00};
    EXPECT_EQ(master.WriteSingleCoil(1, 5, true), 0);
    EXPECT_EQ(master.requests.back().data, (std::vector<uint8_t>{0, 4, 0xFF, 0}));
    master.reply = {0, 4, 0x00, 0x01};
    EXPECT_EQ(master.WriteSingleCoil(1, 5, false), 0) << "00 01 is accepted as well";
    master.reply = {0, 4, 0xFF, 0x00};
    EXPECT_EQ(master.WriteSingleCoil(1, 5, false), FTALK_INVALID_REPLY_ERROR);

    master.reply = {0x27, 0x0E, 0x00, 0x7B};
    EXPECT_EQ(master.WriteSingleRegister(1, 9999, 123), 0);
    EXPECT_EQ(master.requests.back().data, (std::vector<uint8_t>{0x27, 0x0E, 0x00, 0x7B}));
    master.reply = {0x27, 0x0E, 0x00, 0x02};
    EXPECT_EQ(master.WriteSingleRegister(1, 9999, 123), 0);
    master.reply = {0x27, 0x0E, 0x00, 0x7C};
    EXPECT_EQ(master.WriteSingleRegister(1, 9999, 123), FTALK_INVALID_REPLY_ERROR);
    EXPECT_EQ(master.WriteSingleRegister(0, 9999, 123), 0) << "a broadcast accepts whatever";
}

TEST(MasterFunctions, AWriteIsConfirmedOnlyByTheEchoOfItsOwnAddress) {
    // Echoes of an earlier write to the reference before, with the same or an accepted value.
    TFakeMaster master;
    master.reply = {0, 3, 0xFF, 0x00};
    EXPECT_EQ(master.WriteSingleCoil(1, 5, true), FTALK_INVALID_REPLY_ERROR);
    master.reply = {0, 3, 0x00, 0x01};
    EXPECT_EQ(master.WriteSingleCoil(1, 5, true), FTALK_INVALID_REPLY_ERROR);
    master.reply = {0x27, 0x0D, 0x00, 0x7B};
    EXPECT_EQ(master.WriteSingleRegister(1, 9999, 123), FTALK_INVALID_REPLY_ERROR);
    master.reply = {0x26, 0x0E, 0x00, 0x02};
    EXPECT_EQ(master.WriteSingleRegister(1, 9999, 123), FTALK_INVALID_REPLY_ERROR);
}

TEST(MasterFunctions, RetryCountLimitsAndState) {
    TFakeMaster master;
    EXPECT_EQ(master.SetRetryCount(11), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.SetRetryCount(-1), FTALK_ILLEGAL_ARGUMENT_ERROR);
    EXPECT_EQ(master.SetRetryCount(10), 0);
    EXPECT_EQ(master.RetryCount(), 10);
    master.open = true;
    EXPECT_EQ(master.SetRetryCount(1), FTALK_ILLEGAL_STATE_ERROR);
    EXPECT_EQ(master.RetryCount(), 10);
}

TEST(MasterFunctions, ErrorTexts) {
    EXPECT_EQ(ErrorText(0), "Operation was successful");
    EXPECT_EQ(ErrorText(71), "TCP Port alread bound");
    EXPECT_EQ(ErrorText(132), "Reply time-out");
    EXPECT_EQ(ErrorText(162), "Illegal Data Address exception response");
    EXPECT_EQ(ErrorText(166), "Unknwon error");
    EXPECT_EQ(ErrorText(200), "Unknwon error");
    EXPECT_EQ(ErrorText(-1), "Unknwon error");
}
