// The RTU master on a real pseudo-terminal line: against a scripted far end (to count what
// goes over the wire) and against a libmodbus slave, an implementation nobody here wrote.
#include "modbus/MbusRtuMasterProtocol.h"

#include "TestPty.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <mutex>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

// Reads 8-byte request frames off the line and answers each through `answer` (an empty
// answer is silence), until destroyed.
class TScriptedUnit {
public:
    TScriptedUnit(const TTestPty& pty, std::function<Bytes(const Bytes&)> answer)
        : FPty(pty), FAnswer(std::move(answer)), FThread([this] { Run(); }) {}
    ~TScriptedUnit() {
        FStop = true;
        FThread.join();
    }
    std::vector<Bytes> Requests() {
        std::lock_guard lock(FMutex);
        return FRequests;
    }

private:
    void Run() {
        while (!FStop) {
            const Bytes request = FPty.Receive(8, 20);
            if (request.size() < 8) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            {
                std::lock_guard lock(FMutex);
                FRequests.push_back(request);
            }
            const Bytes reply = FAnswer(request);
            if (!reply.empty())
                FPty.Send(reply);
        }
    }

    const TTestPty& FPty;
    std::function<Bytes(const Bytes&)> FAnswer;
    std::mutex FMutex;
    std::vector<Bytes> FRequests;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

Bytes Frame(uint8_t slave, uint8_t function, const Bytes& data) {
    Bytes frame(data.size() + 4);
    MbusRtuMasterProtocol::BuildFrame(frame.data(), slave, function, data.data(),
                                      static_cast<int32_t>(data.size()));
    return frame;
}

void OpenOn(MbusRtuMasterProtocol& master, const TTestPty& pty, int32_t retries, int32_t timeoutMs) {
    ASSERT_EQ(master.SetRetryCount(retries), 0);
    master.SetTimeout(timeoutMs);
    ASSERT_EQ(master.Open(pty.path, 9600, 8, 1, 0), 0);
}

} // namespace

TEST(RtuLine, RetriesAreCountedOnTheWire) {
    int16_t value = 0;
    {
        TTestPty pty;
        TScriptedUnit unit(pty, [](const Bytes&) {
            Bytes reply = Frame(1, 3, {2, 0x12, 0x34});
            reply.back() ^= 0x01;
            return reply;
        });
        MbusRtuMasterProtocol master;
        OpenOn(master, pty, 2, 300);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_CHECKSUM_ERROR);
        const auto requests = unit.Requests();
        ASSERT_EQ(requests.size(), 3u);
        for (const Bytes& request : requests)
            EXPECT_EQ(request, (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    }
    {
        TTestPty pty;
        TScriptedUnit unit(pty, [](const Bytes&) { return Bytes{}; });
        MbusRtuMasterProtocol master;
        OpenOn(master, pty, 1, 60);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
        EXPECT_EQ(unit.Requests().size(), 2u);
    }
    {
        // The first answer is corrupt, the repetition is good.
        TTestPty pty;
        int answered = 0;
        TScriptedUnit unit(pty, [&answered](const Bytes&) {
            return ++answered == 1 ? Frame(2, 3, {2, 0x12, 0x34}) : Frame(1, 3, {2, 0x12, 0x34});
        });
        MbusRtuMasterProtocol master;
        OpenOn(master, pty, 1, 200);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
        EXPECT_EQ(value, 0x1234);
        EXPECT_EQ(unit.Requests().size(), 2u);
    }
    {
        TTestPty pty;
        TScriptedUnit unit(pty, [](const Bytes&) { return Frame(1, 0x83, {2}); });
        MbusRtuMasterProtocol master;
        OpenOn(master, pty, 3, 200);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
        EXPECT_EQ(unit.Requests().size(), 1u);
    }
}

TEST(RtuLine, BroadcastGoesOutAndNothingIsAwaited) {
    TTestPty pty;
    MbusRtuMasterProtocol master;
    OpenOn(master, pty, 1, 1000);
    // Nobody answers a broadcast: a master awaiting a reply would fail with a time-out here.
    EXPECT_EQ(master.WriteSingleCoil(0, 1, true), 0);
    EXPECT_EQ(pty.Receive(8, 1000), Frame(0, 5, {0x00, 0x00, 0xFF, 0x00}));
}

TEST(RtuLine, MasterAgainstLibmodbusSlave) {
    TTestPty pty;
    modbus_mapping_t* map = modbus_mapping_new_start_address(0, 3000, 0, 0, 0, 3000, 0, 10);
    ASSERT_NE(map, nullptr);
    for (int i = 0; i < 3000; ++i) {
        map->tab_bits[i] = (i % 3 == 0) ? 1 : 0;
        map->tab_registers[i] = static_cast<uint16_t>(i * 7 + 1);
    }
    map->tab_input_registers[3] = 17;

    modbus_t* slave = modbus_new_rtu("/dev/ptmx", 9600, 'N', 8, 1);
    ASSERT_NE(slave, nullptr);
    modbus_set_slave(slave, 1);
    modbus_set_socket(slave, pty.master);
    modbus_set_indication_timeout(slave, 0, 20000);
    std::atomic<bool> stop{false};
    std::thread server([&] {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop) {
            const int length = modbus_receive(slave, query);
            if (length > 0)
                modbus_reply(slave, query, length, map);
            else if (length < 0 && errno != ETIMEDOUT)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    MbusRtuMasterProtocol master;
    OpenOn(master, pty, 1, 500);

    std::vector<int32_t> coils(2000);
    EXPECT_EQ(master.ReadCoils(1, 1, coils.data(), 2000), 0);
    int wrongCoils = 0;
    for (int i = 0; i < 2000; ++i)
        wrongCoils += coils[static_cast<size_t>(i)] != ((i % 3 == 0) ? 1 : 0);
    EXPECT_EQ(wrongCoils, 0);

    std::vector<int16_t> registers(125);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 101, registers.data(), 125), 0);
    EXPECT_EQ(registers[0], 100 * 7 + 1);
    EXPECT_EQ(registers[124], 224 * 7 + 1);
    int16_t deviceId = 0;
    EXPECT_EQ(master.ReadInputRegisters(1, 4, &deviceId, 1), 0);
    EXPECT_EQ(deviceId, 17);

    EXPECT_EQ(master.WriteSingleCoil(1, 2, true), 0);
    EXPECT_EQ(master.WriteSingleRegister(1, 9, -2), 0);
    int32_t coil = 0;
    EXPECT_EQ(master.ReadCoils(1, 2, &coil, 1), 0);
    EXPECT_EQ(coil, 1);
    int16_t reg = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 9, &reg, 1), 0);
    EXPECT_EQ(reg, -2);

    // Past the end of the slave's tables: its exception replies, unrepeated.
    reg = 5;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 2999, registers.data(), 5), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
    EXPECT_EQ(registers[0], 0);
    EXPECT_EQ(master.ReadCoils(1, 3001, &coil, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
    EXPECT_EQ(master.WriteSingleRegister(1, 3001, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
    EXPECT_EQ(master.ReadInputRegisters(1, 11, &reg, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);

    master.Close();
    stop = true;
    server.join();
    EXPECT_EQ(map->tab_bits[1], 1);
    EXPECT_EQ(map->tab_registers[8], 0xFFFE);
    modbus_free(slave); // the descriptor belongs to the pty
    modbus_mapping_free(map);
}

// A libmodbus slave that takes 20 ms to answer, as a unit does, and answers its second request
// only after the master's time-out: neither that late reply nor the reply to the repetition may
// be taken for a later request's.
TEST(RtuLine, ALateReplyFromALibmodbusSlaveAnswersNoLaterRequest) {
    TTestPty pty;
    modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 100, 0, 0);
    ASSERT_NE(map, nullptr);
    for (int i = 0; i < 100; ++i)
        map->tab_registers[i] = static_cast<uint16_t>(5000 + i);
    modbus_t* slave = modbus_new_rtu("/dev/ptmx", 9600, 'N', 8, 1);
    ASSERT_NE(slave, nullptr);
    modbus_set_slave(slave, 1);
    modbus_set_socket(slave, pty.master);
    modbus_set_indication_timeout(slave, 0, 20000);
    std::atomic<bool> stop{false};
    std::thread server([&] {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        int requests = 0;
        while (!stop) {
            const int length = modbus_receive(slave, query);
            if (length <= 0)
                continue;
            ++requests;
            std::this_thread::sleep_for(std::chrono::milliseconds(requests == 2 ? 350 : 20));
            modbus_reply(slave, query, length, map);
        }
    });

    MbusRtuMasterProtocol master;
    OpenOn(master, pty, 1, 200);
    for (int block = 0; block < 5; ++block) {
        SCOPED_TRACE(block);
        int16_t values[10] = {};
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1 + 10 * block, values, 10), 0);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(values[i], 5000 + 10 * block + i);
    }

    master.Close();
    stop = true;
    server.join();
    modbus_free(slave);
    modbus_mapping_free(map);
}
