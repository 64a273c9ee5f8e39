// The simulator as a network gateway, against a libmodbus master over Modbus TCP and against raw
// RTU frames over a plain socket.
#include "SimProcess.h"

#include "modbus/Crc16.h"

#include <QTcpSocket>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <modbus/modbus.h>

namespace {

// A libmodbus master connected to the gateway at `address` ("tcp://127.0.0.1:40123").
struct TTcpMaster {
    explicit TTcpMaster(const std::string& address)
        : ctx(modbus_new_tcp("127.0.0.1", std::stoi(address.substr(address.rfind(':') + 1)))) {
        connected = ctx != nullptr && modbus_connect(ctx) == 0;
    }
    ~TTcpMaster() {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    // errno of reading holding register 1 (wire address 0) of `unit`; 0 when it was read.
    int ReadError(int unit) {
        uint16_t value = 0;
        modbus_set_slave(ctx, unit);
        return modbus_read_registers(ctx, 0, 1, &value) == 1 ? 0 : errno;
    }
    modbus_t* ctx;
    bool connected = false;
};

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

} // namespace

TEST(SimGateway, ModbusTcpServesEachUnitBehindItsUnitId) {
    TSimProcess sim({"--listen", "tcp://127.0.0.1:0", "--slave", "1", "--device-id", "18", "--slave", "2",
                     "--device-id", "19"});
    ASSERT_EQ(sim.Port().rfind("tcp://127.0.0.1:", 0), 0u) << sim.Output() << sim.Errors();
    TTcpMaster master(sim.Port());
    ASSERT_TRUE(master.connected);
    for (int unit : {1, 2}) {
        modbus_set_slave(master.ctx, unit);
        EXPECT_EQ(modbus_write_register(master.ctx, 299, static_cast<uint16_t>(1000 + unit)), 1);
        EXPECT_EQ(modbus_write_bit(master.ctx, 6, unit == 2), 1);
    }
    for (int unit : {1, 2}) {
        SCOPED_TRACE(unit);
        modbus_set_slave(master.ctx, unit);
        uint16_t deviceId = 0, value = 0;
        uint8_t coil = 9;
        EXPECT_EQ(modbus_read_input_registers(master.ctx, 3, 1, &deviceId), 1);
        EXPECT_EQ(deviceId, 17 + unit);
        EXPECT_EQ(modbus_read_registers(master.ctx, 299, 1, &value), 1);
        EXPECT_EQ(value, 1000 + unit);
        EXPECT_EQ(modbus_read_bits(master.ctx, 6, 1, &coil), 1);
        EXPECT_EQ(coil, unit == 2 ? 1 : 0);
    }
    EXPECT_EQ(master.ReadError(9), EMBXGTAR);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines("slave 1 stopped after 6 requests"), 1) << sim.Output();
    EXPECT_EQ(sim.CountLines("slave 2 stopped after 5 requests"), 1) << sim.Output();
}

TEST(SimGateway, AbsentUnitsAndLostRepliesGetGatewayExceptions) {
    TSimProcess sim({"--listen", "tcp://:0", "--gateway-path-unavailable", "--fault", "no-reply=1",
                     "--fault-after", "1"});
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    TTcpMaster master(sim.Port());
    ASSERT_TRUE(master.connected);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(master.ReadError(1), EMBXGTAR); // the unit's reply is lost behind the gateway
    EXPECT_EQ(master.ReadError(5), EMBXGPATH);
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines("fault: no-reply"), 1) << sim.Output();
}

TEST(SimGateway, RtuOverTcpPassesFramesThroughAndReassemblesThem) {
    TSimProcess sim({"--listen", "rtu+tcp://127.0.0.1:0", "--device-id", "18", "--verbose"});
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"),
                         static_cast<quint16>(std::stoi(sim.Port().substr(sim.Port().rfind(':') + 1))));
    ASSERT_TRUE(socket.waitForConnected(5000));
    // Unit 9 is absent and stays silent; requests are served in order, so the first reply is unit 1's.
    const std::vector<uint8_t> absent = WithCrc({9, 4, 0, 3, 0, 1});
    const std::vector<uint8_t> request = WithCrc({1, 4, 0, 3, 0, 1});
    socket.write(reinterpret_cast<const char*>(absent.data()), 8);
    socket.write(reinterpret_cast<const char*>(request.data()), 3);
    ASSERT_TRUE(socket.waitForBytesWritten(5000));
    socket.write(reinterpret_cast<const char*>(request.data()) + 3, 5);
    QByteArray reply;
    while (reply.size() < 7 && socket.waitForReadyRead(5000))
        reply += socket.readAll();
    ASSERT_EQ(reply.size(), 7) << sim.Output();
    EXPECT_EQ(reply.left(5), QByteArray::fromHex("0104020012"));
    EXPECT_TRUE(HasValidCrc16(reinterpret_cast<const uint8_t*>(reply.constData()), 7));
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines("request 01 04 00 03 00 01"), 1) << sim.Output();
}

TEST(SimGateway, OneConnectionTooManyIsClosedAloneOrWithAllTheOthers) {
    for (const bool dropAll : {false, true}) {
        SCOPED_TRACE(dropAll);
        QStringList options{"--listen", "tcp://127.0.0.1:0", "--max-connections", "1"};
        if (dropAll)
            options << "--drop-all-on-overflow";
        TSimProcess sim(options);
        ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
        TTcpMaster first(sim.Port());
        ASSERT_EQ(first.ReadError(1), 0);
        TTcpMaster second(sim.Port());
        EXPECT_NE(second.ReadError(1), 0);
        EXPECT_EQ(first.ReadError(1) == 0, !dropAll);
        EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
        EXPECT_EQ(sim.CountLines(dropAll ? "is one too many" : "refused: 1 open already"), 1) << sim.Output();
    }
}

TEST(SimGateway, CloseAfterEndsEachConnectionAfterItsRequests) {
    TSimProcess sim({"--listen", "tcp://127.0.0.1:0", "--fault", "close-after=2"});
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    TTcpMaster master(sim.Port());
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_NE(master.ReadError(1), 0);
    modbus_close(master.ctx);
    ASSERT_EQ(modbus_connect(master.ctx), 0);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines("closed after 2 requests"), 1) << sim.Output();
}

TEST(SimGateway, TcpAndRtuTcpServeOnTheListenHostAndRefuseMixedForms) {
    TSimProcess tcp({"--tcp", "0", "--slave", "1", "--device-id", "18"});
    ASSERT_EQ(tcp.Port().rfind("tcp://127.0.0.1:", 0), 0u) << tcp.Output() << tcp.Errors();
    TTcpMaster master(tcp.Port());
    ASSERT_TRUE(master.connected);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(master.ReadError(9), EMBXGTAR);

    TSimProcess rtu({"--rtu-tcp", "0", "--listen", "::1"});
    EXPECT_EQ(rtu.Port().rfind("rtu+tcp://[::1]:", 0), 0u) << rtu.Output() << rtu.Errors();
    TSimProcess named({"--rtu-tcp", "0", "--listen", "localhost"});
    EXPECT_EQ(named.Port().rfind("rtu+tcp://127.0.0.1:", 0), 0u) << named.Output() << named.Errors();

    const std::vector<std::pair<QStringList, std::string>> refused{
        {{"--tcp", "0", "--rtu-tcp", "0"}, "--tcp and --rtu-tcp are two kinds of gateway"},
        {{"--tcp", "0", "--listen", "tcp://127.0.0.1:0"}, "names its port itself"},
        {{"--listen", "127.0.0.1"}, "--listen takes a host address with --tcp PORT or --rtu-tcp PORT"},
        {{"--tcp", "65536"}, "--tcp takes a port from 0 to 65535"},
        {{"--hop-delay", "20"}, "need a gateway"},
        {{"--tcp", "0", "--port", "COM3"}, "not a gateway"}};
    for (const auto& [options, message] : refused) {
        TSimProcess sim(options);
        EXPECT_EQ(sim.Stop(), 1) << options.join(' ').toStdString();
        EXPECT_NE(sim.Errors().find(message), std::string::npos) << sim.Errors();
    }
}

TEST(SimGateway, HopDelayAndWireSpeedHoldEveryReplyBack) {
    // A single read takes 15 characters on the line behind (17 ms), 125 registers 263 (301 ms).
    TSimProcess sim({"--tcp", "0", "--hop-delay", "200", "--wire-speed", "--verbose"});
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    {
        TTcpMaster impatient(sim.Port());
        modbus_set_response_timeout(impatient.ctx, 0, 150000);
        EXPECT_EQ(impatient.ReadError(1), ETIMEDOUT);
    }
    TTcpMaster master(sim.Port());
    modbus_set_response_timeout(master.ctx, 5, 0);
    ASSERT_EQ(master.ReadError(1), 0);
    uint16_t values[125] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(modbus_read_registers(master.ctx, 0, 125, values), 125);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200 + 301));
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    // The late reply was still the unit's: it served every request.
    EXPECT_EQ(sim.CountLines("request 01 03 00 00 00 01"), 2) << sim.Output();
    EXPECT_EQ(sim.CountLines("stopped after 3 requests"), 1) << sim.Output();
}

TEST(SimGateway, FaultAtCloseClosesTheConnectionOfThatRequestUnserved) {
    TSimProcess sim({"--tcp", "0", "--fault-at", "close=2", "--verbose"});
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    TTcpMaster master(sim.Port());
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_NE(master.ReadError(1), 0);
    modbus_close(master.ctx);
    ASSERT_EQ(modbus_connect(master.ctx), 0);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(master.ReadError(1), 0);
    EXPECT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.CountLines("connection 1 closed at request 2 (fault close)"), 1) << sim.Output();
    EXPECT_EQ(sim.CountLines("stopped after 3 requests"), 1) << sim.Output();
}
