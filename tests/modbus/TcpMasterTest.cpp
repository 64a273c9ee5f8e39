// The network masters against a libmodbus TCP server and scripted raw servers (for what a good
// one never sends), over loopback.
#include "RecordingSink.h"
#include "modbus/Masterfactory.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/MbusRtuTcpMasterProtocol.h"
#include "modbus/MbusTcpMasterProtocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// Listens on a free loopback port; hands each of `connections` connections to `serve`, in turn.
class TListener {
public:
    TListener(int connections, std::function<void(int fd, int index)> serve) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        EXPECT_TRUE(::bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                    ::listen(FSocket, 4) == 0 &&
                    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) == 0);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this, connections, serve = std::move(serve)] {
            const timeval limit{5, 0}; // a test gone wrong must not hang the suite
            for (int i = 0, fd; i < connections && (fd = ::accept(FSocket, nullptr, nullptr)) >= 0; ++i) {
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
                serve(fd, i);
                ::close(fd);
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
    int FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    int FPort = 0;
    std::thread FThread;
};

// Up to `n` bytes, fewer when the master closed the connection.
Bytes Receive(int fd, size_t n) {
    Bytes bytes(n);
    bytes.resize(static_cast<size_t>(std::max<ssize_t>(::recv(fd, bytes.data(), n, MSG_WAITALL), 0)));
    return bytes;
}

void Send(int fd, const Bytes& bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// A Modbus TCP reply of one register to `request`, or to the request `age` requests before it.
Bytes RegisterReply(const Bytes& request, int age, uint16_t value) {
    const int id = request.size() == 12 ? (request[0] << 8 | request[1]) - age : 0;
    return {uint8_t(id >> 8), uint8_t(id), 0, 0, 0, 5, 1, 3, 2, uint8_t(value >> 8), uint8_t(value)};
}

// A libmodbus server: unit 9 is behind the gateway but never answers (exception 11). It drops
// the connection, unanswered, at request number `dropAt` (counted from 1 over all connections).
void ServeLibmodbus(modbus_mapping_t* map, int fd, int dropAt, int* requests) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
    modbus_set_socket(ctx, ::dup(fd));
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (int rc; (rc = modbus_receive(ctx, query)) > 0 && ++*requests != dropAt;) {
        query[6] == 9 ? modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_GATEWAY_TARGET)
                      : modbus_reply(ctx, query, rc, map);
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

} // namespace

TEST(TcpMaster, WorksWithALibmodbusServerAndConnectsAgainAfterItDropped) {
    modbus_mapping_t* map = modbus_mapping_new(32, 0, 32, 0);
    int requests = 0;
    {
        TListener server(2, [&](int fd, int) { ServeLibmodbus(map, fd, 7, &requests); });
        MbusTcpMasterProtocol master;
        ASSERT_EQ(master.Open("127.0.0.1", server.Port()), 0) << master.LastErrorText();
        EXPECT_EQ(master.WriteSingleRegister(1, 3, -2), 0);
        EXPECT_EQ(master.WriteSingleCoil(1, 10, true), 0);
        int16_t registers[3] = {};
        EXPECT_EQ(master.ReadHoldingRegisters(1, 2, registers, 3), 0);
        EXPECT_EQ(registers[1], -2);
        int32_t coils[12] = {};
        EXPECT_EQ(master.ReadCoils(1, 1, coils, 12), 0);
        EXPECT_TRUE(std::count(coils, coils + 12, 1) == 1 && coils[9] == 1);
        EXPECT_EQ(master.ReadHoldingRegisters(9, 1, registers, 1), 171);
        EXPECT_EQ(master.ReadHoldingRegisters(1, 40, registers, 1), FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE);
        EXPECT_TRUE(GatewayFoundNoUnit(170) && GatewayFoundNoUnit(171) && !GatewayFoundNoUnit(162));
        EXPECT_EQ(ErrorText(171), "Unknwon error");
        EXPECT_EQ(master.TransactionId(), 6);
        // Dropped mid-run: the request in flight sees 69, the next one connects again.
        EXPECT_EQ(master.ReadHoldingRegisters(1, 1, registers, 1), FTALK_CONNECTION_WAS_CLOSED);
        const std::string closed = "TCP/IP connection was closed by remote peer: 127.0.0.1:";
        EXPECT_EQ(master.LastErrorText().rfind(closed + std::to_string(server.Port()) + ": ", 0), 0u)
            << master.LastErrorText();
        EXPECT_EQ(master.ReadHoldingRegisters(1, 3, registers, 1), 0) << master.LastErrorText();
    }
    EXPECT_EQ(requests, 8);
    modbus_mapping_free(map);
}

TEST(TcpMaster, AGatewayMasterPassesItsTrafficSinkToItsConnectionsThread) {
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 32, 0);
    int requests = 0;
    {
        TListener server(1, [&](int fd, int) { ServeLibmodbus(map, fd, 0, &requests); });
        const auto target = ParsePortTarget("tcp://127.0.0.1:" + std::to_string(server.Port()));
        TRecordingSink sink;
        auto master = MakeMaster(*target);
        ASSERT_EQ(OpenMaster(*master, *target), 0);
        master->SetTrafficSink(&sink);
        int16_t value = 0;
        EXPECT_EQ(master->ReadHoldingRegisters(1, 2, &value, 1), 0);
        EXPECT_EQ(master->ReadHoldingRegisters(9, 2, &value, 1), FTALK_MBUS_GATEWAY_TARGET_NO_RESPONSE);
        master->Close();
        EXPECT_EQ(
            sink.Lines(),
            (std::vector<std::string>{
                "sent: transaction 1, unit 1, Read Holding Registers, reference 2 (wire 1), count 1",
                "received: transaction 1, unit 1, Read Holding Registers, byte count 2, data 00 00",
                "sent: transaction 2, unit 9, Read Holding Registers, reference 2 (wire 1), count 1",
                "received: transaction 2, unit 9, Read Holding Registers exception, Gateway Target Device "
                "Failed to Respond"}));
    }
    modbus_mapping_free(map);
}

TEST(TcpMaster, ConnectionFailuresAreCodedWithTheGatewayAndTheReason) {
    const int closedPort = TListener(0, nullptr).Port(); // nobody listens there any more
    MbusTcpMasterProtocol master;
    EXPECT_EQ(master.Open("127.0.0.1", closedPort), FTALK_TCPIP_CONNECT_ERR);
    EXPECT_EQ(master.LastErrorText(),
              "TCP/IP connection error: 127.0.0.1:" + std::to_string(closedPort) + ": Connection refused");
    EXPECT_EQ(master.Open("::1", 0), FTALK_PORT_NOT_AVAIL);
    EXPECT_EQ(master.LastErrorText(), "TCP Port not available: [::1]:0: use 1 to 65535");
}

TEST(TcpMaster, RepliesToEarlierRequestsAreSkippedAndBrokenFramesNeverHang) {
    TListener server(3, [](int fd, int index) {
        Bytes request = Receive(fd, 12);
        Bytes broken = RegisterReply(request, 0, 0);
        if (index == 0) { // each broken frame makes the master drop the connection and make a new one
            Send(fd, RegisterReply(request, 0, 0x1111));
            request = Receive(fd, 12); // the stale reply of the request before, then this one's
            Send(fd, RegisterReply(request, 1, 0x2222));
            Send(fd, RegisterReply(request, 0, 0x3333));
            broken = RegisterReply(Receive(fd, 12), 0, 0);
            broken[4] = 1; // a length field past any frame
            Send(fd, broken);
        } else if (index == 1) {
            broken[5] = 20; // a length field promising more than comes
            Send(fd, broken);
        } else { // a byte now and then: the whole reply would come, long after the time-out
            for (uint8_t b : RegisterReply(request, 0, 0x4444)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                Send(fd, {b});
            }
        }
        Receive(fd, 12); // until the master gives up on this connection
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
            Receive(fd, 8);                 // unanswered in time ...
            if (Receive(fd, 8).size() == 8) // ... and answered once the next request is here
                Send(fd, reply(0xAAAA));
        }
        Receive(fd, 8 * index); // the request on the new connection
        Send(fd, reply(0xBBBB));
        Receive(fd, 8);
    });
    MbusRtuTcpMasterProtocol master;
    master.SetTimeout(200);
    ASSERT_EQ(master.Open("127.0.0.1", server.Port()), 0);
    TRecordingSink sink;
    master.SetTrafficSink(&sink);
    int16_t value = 0;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(value, 0x1111);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), FTALK_REPLY_TIMEOUT_ERROR);
    EXPECT_EQ(sink.Lines().at(3), "no reply: no reply");
    EXPECT_GE(sink.WaitedMs().at(3), 200);
    EXPECT_EQ(master.ReadHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(static_cast<uint16_t>(value), 0xBBBB);
}
