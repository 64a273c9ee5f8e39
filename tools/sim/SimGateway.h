#pragma once
// The simulated units behind a network gateway. As a Modbus TCP gateway it takes requests with
// their MBAP header, has the unit whose address is the unit id answer on its line and sends the
// reply back under the request's transaction id; as a transparent serial server it passes RTU
// frames through the connection unchanged. Like a small gateway it serves a few connections, one
// request at a time, on the thread of the Qt event loop it runs in.
#include "SimPort.h"

#include "modbus/Trafficframe.h"

#include <QHostAddress>
#include <QTcpServer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TSimUnit;

struct TSimGatewayOptions {
    bool rtuOverTcp = false; // transparent serial server, not Modbus TCP
    QHostAddress host{QHostAddress::LocalHost};
    uint16_t port = 0; // 0: a free one
    int maxConnections = 4;
    // The connection over the limit closes all the others too, not only itself.
    bool dropAllOnOverflow = false;
    // An absent unit gets exception 10 (path unavailable), not 11 (target failed to respond).
    bool pathUnavailable = false;
    // Each connection is closed once this many of its requests were served (0: never).
    int64_t closeAfter = 0;
    // The connection that sends the gateway's request number n (counted from 1 over all
    // connections) is closed instead of the request being passed on (0: never).
    int64_t closeAt = 0;
    // The gateway's own delay, added to each reply.
    int hopDelayMs = 0;
    // Each request and reply takes the time the 9600-baud line behind the gateway would.
    bool wireSpeed = false;
};

// A host address to listen on: IPv4, IPv6 (brackets allowed), or a name looked up; "" and
// "localhost" are 127.0.0.1. False when it is none of these.
bool ParseListenHost(const std::string& text, QHostAddress* host);

// "tcp://[HOST]:PORT" or "rtu+tcp://[HOST]:PORT" (HOST as ParseListenHost takes it) into
// `options`; false when it is neither.
bool ParseListenAddress(const std::string& text, TSimGatewayOptions* options);

class TSimGateway {
public:
    TSimGateway(const std::vector<TSimUnit*>& units, const TSimGatewayOptions& options);
    ~TSimGateway();
    TSimGateway(const TSimGateway&) = delete;
    TSimGateway& operator=(const TSimGateway&) = delete;

    // Starts listening; false with a reason when the address cannot be had.
    bool Listen(std::string* error);
    // Where it listens, the chosen port filled in, such as "tcp://127.0.0.1:40123".
    std::string Address() const;

    // Receives one line per connection event and per request the gateway answers itself.
    std::function<void(const std::string&)> OnLog;
    // Every request taken off a connection and every reply sent on one go to `sink` (null: none).
    void SetTrafficSink(TTrafficSink* sink) { FTrace = sink; }

private:
    struct TConnection;
    struct TRequest {
        int connection = 0;
        uint16_t transaction = 0;
        std::vector<uint8_t> frame; // as on the units' line, CRC included
    };

    void Accept();
    void Receive(TConnection& connection);
    void TakeMbapRequests(TConnection& connection);
    void Queue(int connection, uint16_t transaction, std::vector<uint8_t> frame);
    void Pump();
    // The bytes the connection gets for one request (none: no reply) and the time the line
    // behind the gateway takes for them.
    std::vector<uint8_t> Answer(const TRequest& request, std::chrono::microseconds* lineTime);
    std::vector<uint8_t> GatewayReply(const TRequest& request, const std::vector<uint8_t>& rtuReply);
    void Finish(int connection, const std::vector<uint8_t>& bytes);
    void Close(int connection);
    bool HasUnit(uint8_t address) const;
    void Log(const std::string& line) const;
    void Trace(TTrafficDirection direction, const std::vector<uint8_t>& bytes) const;

    std::vector<TSimUnit*> FUnits;
    TSimGatewayOptions FOptions;
    QTcpServer FServer;
    std::map<int, std::unique_ptr<TConnection>> FConnections;
    int FNextId = 1;
    std::deque<TRequest> FQueue;
    bool FBusy = false;    // a reply waits out its delay; the next request waits for it
    int64_t FRequests = 0; // taken from the queue, over all connections
    TTrafficSink* FTrace = nullptr;
};
