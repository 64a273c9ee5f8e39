#pragma once
// What the two network masters share: the connection to one gateway, opened by Open and made
// again on the next request after it dropped, the serial master's rule of repetition, and the
// words for the last failure. The framing is the subclass's.
#include "modbus/MbusMasterFunctions.h"
#include "modbus/TcpPort.h"

#include <memory>
#include <string>

class MbusTcpMasterBase : public MbusMasterFunctions {
public:
    MbusTcpMasterBase();
    // Tests hand in a scripted port.
    explicit MbusTcpMasterBase(std::unique_ptr<TcpPort> port);
    ~MbusTcpMasterBase() override;

    // `host` a name or an address (IPv6 without brackets), `port` 1..65535 (else 75). 68 when the
    // gateway cannot be reached, 2 when already open. Connects on the calling thread, which
    // must be the one that makes the requests.
    int32_t Open(const std::string& host, int32_t port);
    // Open from Open to Close, while the connection itself may drop and be made again.
    bool IsOpen() const override { return FOpen; }
    void Close() override;
    // Tries the exchange 1 + retry count times while it fails with 129, 130 or 132.
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* reply, int32_t replyLength) override;

    // The last failure in words: "TCP/IP connection error: 10.0.0.5:502: Connection refused".
    // Empty after a success.
    const std::string& LastErrorText() const { return FLastError; }
    // "10.0.0.5:502", "[::1]:502".
    std::string GatewayAddress() const;

protected:
    // One attempt, without repetition.
    virtual int32_t ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request,
                                  int32_t requestLength, uint8_t* reply, int32_t replyLength) = 0;
    void ReplyRejected() override;

    // Before each request: throws away what is left on the connection, and makes the connection
    // when there is none (first use, dropped, or dropped on purpose). 0, or 68.
    int32_t Prepare();
    // Turns a failed read or write into the master's code (132, 133, 69); after all but a reply
    // time-out the connection is dropped here, so that the next request makes it again.
    int32_t PortFailure(int32_t portResult, bool sending);
    // With a traffic sink: what came of a reply before the wait ended (`have` bytes already in
    // `frame`, then what still waits on the connection, up to `capacity` in all), and that the
    // reply did not come. Call before the connection is closed.
    void ReportMissingReply(uint8_t* frame, int32_t have, int32_t capacity, TTrafficFraming framing);
    // Records the failure's words and returns `code`.
    int32_t Fail(int32_t code, const std::string& reason = {});

    std::unique_ptr<TcpPort> FPort;

private:
    std::string FHost;
    uint16_t FNetworkPort = 0;
    bool FOpen = false;
    std::string FLastError;
};
