// The network masters over real loopback connections: against a libmodbus TCP server (an
// implementation nobody here wrote) and against scripted raw servers for what a good one
// never sends.
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/MbusRtuTcpMasterProtocol.h"
#include "modbus/MbusTcpMasterProtocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// Listens on 127.0.0.1 at a free port and hands each of `connections` accepted connections to
// `serve`, on its own thread.
class TListener {
public:
    TListener(int connections, std::function<void(int fd, int index)> serve) {
        FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(FSocket, 4) != 0 ||
            ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            ADD_FAILURE() << "no listening socket";
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this, connections, serve = std::move(serve)] {
            for (int i = 0; i < connections; ++i) {
                const int fd = ::accept(FSocket, nullptr, nullptr);
                if (fd < 0)
                    return;
                serve(fd, i);
            }
        });
    }
    ~TListener() {
        ::shutdown(FSocket, SHUT_RDWR); // wakes accept() when a test ended early
        FThread.join();
        ::close(FSocket);
    }
    int Port() const { return FPort; }

private:
    int FSocket = -1;
    int FPort = 0;
    std::thread FThread;
};

// Up to `n` bytes, fewer when the master closed or nothing came for five seconds.
Bytes Receive(int fd, size_t n) {
    Bytes bytes(n);
    size_t got = 0;
    pollfd entry{fd, POLLIN, 0};
    while (got < n && ::poll(&entry, 1, 5000) == 1) {
        const ssize_t r = ::read(fd, bytes.data() + got, n - got);
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    bytes.resize(got);
    return bytes;
}

bool Send(int fd, const Bytes& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// A Modbus TCP reply to `request` (an MBAP request) with `id` as transaction id and one register.
Bytes RegisterReply(const Bytes& request, int id, uint16_t value) {
    return {uint8_t(id >> 8), uint8_t(id), 0, 0, 0, 5, request[6], 3, 2, uint8_t(value >> 8), uint8_t(value)};
}

int TransactionId(const Bytes& request) {
    return request.size() >= 2 ? request[0] << 8 | request[1] : -1;
}

// A libmodbus server: unit 9 is behind the gateway but never answers (exception 11). It drops
// the connection, unanswered, at request number `dropAt` (counted from 1 over all connections).
void ServeLibmodbus(modbus_mapping_t* map, int fd, int dropAt, int* requests) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
    modbus_set_socket(ctx, fd);
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (int rc; (rc = modbus_receive(ctx, query)) > 0 && ++*requests != dropAt;) {
        if (query[6] == 9)
            modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_GATEWAY_TARGET);
        else
            modbus_reply(ctx, query, rc, map);
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

} // namespace

TEST(TcpMaster, ReadsAndWritesALibmodbusServerAndTellsANoUnitException) {
    modbus_mapping_t* map = modbus_mapping_new(32, 0, 32, 32);
    map->tab_input_registers[4] = 0x1234;
    int requests = 0;
    {
        TListener server(1, [&](int fd, int) { ServeLibmodbus(map, fd, 0, &requests); });
        MbusTcpMasterProtocol master;
        ASSERT_EQ(master.Open("127.0.0.1", server.Port()), 0) << master.LastErrorText();
        EXPECT_EQ(master.WriteSingleRegister(1, 3, -2), 0);
        EXPECT_EQ(master.WriteSingleCoil(1, 10, true), 0);
        int16_t registers[3] = {};
        EXPECT_EQ(master.ReadHoldingRegisters(1, 2, registers, 3), 0);
        EXPECT_EQ(registers[1], -2);
        EXPECT_EQ(master.ReadInputRegisters(1, 5, registers, 1), 0);
        EXPECT_EQ(registers[0], 0x1234);
        int32_t coils[12] = {};
        EXPECT_EQ(master.ReadCoils(1, 1, coils, 12), 0);
        EXPECT_EQ(std::count(coils, coils + 12, 1), 1);
        EXPECT_EQ(coils[9], 1);

        const int32_t noUnit = master.ReadHoldingRegisters(9, 1, registers, 1);
        EXPECT_EQ(noUnit, 171);
        EXPECT_TRUE(GatewayFoundNoUnit(noUnit));
        EXPECT_EQ(ErrorText(noUnit), "Unknwon error");
        EXPECT_EQ(master.ReadHoldingRegisters(1, 40, registers, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
        EXPECT_FALSE(GatewayFoundNoUnit(FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE));
        EXPECT_EQ(master.TransactionId(), 7);
    }
    EXPECT_EQ(requests, 7);
    modbus_mapping_free(map);
}

TEST(TcpMaster, ConnectionFailuresAreCodedWithTheGatewayAndTheReason) {
    int closedPort = 0;
    { // a port nobody listens on any more
        TListener gone(0, [](int, int) {});
        closedPort = gone.Port();
    }
    MbusTcpMasterProtocol master;
    EXPECT_EQ(master.Open("127.0.0.1", closedPort), FTALK_TCPIP_CONNECT_ERR);
    EXPECT_EQ(master.LastErrorText(),
              "TCP/IP connection error: 127.0.0.1:" + std::to_string(closedPort) + ": Connection refused");
    EXPECT_FALSE(master.IsOpen());
    EXPECT_EQ(master.Open("::1", 0), FTALK_PORT_NOT_AVAIL);
    EXPECT_EQ(master.LastErrorText(), "TCP Port not available: [::1]:0: use 1 to 65535");

    // Dropped mid-run: the request in flight sees 69, the next one connects again.
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 8, 0);
    int requests = 0;
    {
        TListener server(2, [&](int fd, int) { ServeLibmodbus(map, fd, 2, &requests); });
        ASSERT_EQ(master.Open("127.0.0.1", server.Port()), 0);
        int16_t value = 0;
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_CONNECTION_WAS_CLOSED);
        EXPECT_EQ(master.LastErrorText().rfind("TCP/IP connection was closed by remote peer: 127.0.0.1:" +
                                                   std::to_string(server.Port()) + ": ",
                                               0),
                  0u)
            << master.LastErrorText();
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0) << master.LastErrorText();
        EXPECT_EQ(master.LastErrorText(), "");
        master.Close();
    }
    EXPECT_EQ(requests, 3);
    modbus_mapping_free(map);
}

TEST(TcpMaster, RepliesToEarlierRequestsAreSkippedAndBrokenFramesNeverHang) {
    // Each broken frame makes the master drop the connection; the next request makes a new one.
    TListener server(3, [](int fd, int index) {
        Bytes request = Receive(fd, 12);
        int id = TransactionId(request);
        if (index == 0) {
            Send(fd, RegisterReply(request, id, 0x1111));
            request = Receive(fd, 12); // the stale reply of the request before, then this one's
            Send(fd, RegisterReply(request, id, 0x2222));
            Send(fd, RegisterReply(request, ++id, 0x3333));
            id = TransactionId(Receive(fd, 12)); // a length field past any frame
            Send(fd, {uint8_t(id >> 8), uint8_t(id), 0, 0, 0x01, 0x2C, 1, 3, 2, 0, 0});
        } else if (index == 1) { // a length field promising more than comes
            Send(fd, {uint8_t(id >> 8), uint8_t(id), 0, 0, 0, 20, 1, 3, 2, 0, 0});
        } else { // a byte now and then: the whole reply would come, long after the time-out
            for (uint8_t b : RegisterReply(request, id, 0x4444)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!Send(fd, {b}))
                    break;
            }
        }
        Receive(fd, 12); // until the master gives up on this connection
        ::close(fd);
    });
    MbusTcpMasterProtocol master;
    master.SetTimeout(200);
    ASSERT_EQ(master.Open("127.0.0.1", server.Port()), 0);
    int16_t value = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(value, 0x1111);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(value, 0x3333);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_INVALID_FRAME_ERROR);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    EXPECT_EQ(master.LastErrorText(), "Reply time-out: 127.0.0.1:" + std::to_string(server.Port()));
}

TEST(RtuOverTcp, ALateReplyIsNotTakenForTheNextRequest) {
    const auto reply = [](uint16_t value) {
        Bytes frame(7);
        const uint8_t data[] = {2, uint8_t(value >> 8), uint8_t(value)};
        MbusRtuMasterProtocol::BuildFrame(frame.data(), 1, 3, data, 3);
        return frame;
    };
    TListener server(2, [&](int fd, int index) {
        if (index == 0) {
            Receive(fd, 8);
            Send(fd, reply(0x1111));
            Receive(fd, 8);                   // unanswered in time ...
            if (Receive(fd, 8).size() == 8) { // ... and answered once the next request is here
                Send(fd, reply(0xAAAA));
                Send(fd, reply(0xBBBB));
            }
        } else {
            Receive(fd, 8);
            Send(fd, reply(0xBBBB));
        }
        Receive(fd, 8);
        ::close(fd);
    });
    MbusRtuTcpMasterProtocol master;
    master.SetTimeout(200);
    ASSERT_EQ(master.Open("127.0.0.1", server.Port()), 0);
    int16_t value = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(value, 0x1111);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(static_cast<uint16_t>(value), 0xBBBB);
}
