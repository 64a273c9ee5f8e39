#include "SimGateway.h"

#include "SimUnit.h"
#include "modbus/Crc16.h"

#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr size_t MbapLength = 7; // transaction id, protocol id, length, unit id
constexpr uint8_t GatewayPathUnavailable = 10;
constexpr uint8_t GatewayTargetFailed = 11;
// Over TCP a frame of unknown length ends when no more of it came for a while.
constexpr int RtuQuietMs = 50;

uint16_t Word(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

void PutWord(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

// An MBAP header and the PDU after it.
std::vector<uint8_t> MbapFrame(uint16_t transaction, uint8_t unit, const uint8_t* pdu, size_t length) {
    std::vector<uint8_t> frame;
    PutWord(frame, transaction);
    PutWord(frame, 0);
    PutWord(frame, static_cast<uint16_t>(length + 1));
    frame.push_back(unit);
    frame.insert(frame.end(), pdu, pdu + length);
    return frame;
}

} // namespace

struct TSimGateway::TConnection {
    int id = 0;
    QTcpSocket* socket = nullptr; // the server's child
    std::vector<uint8_t> pending; // Modbus TCP bytes short of a whole request
    TSimReceiver receiver;        // RTU over TCP
    QTimer* quiet = nullptr;      // RTU over TCP: ends a frame of unknown length; the socket's child
    int64_t served = 0;
};

bool ParseListenHost(const std::string& text, QHostAddress* host) {
    std::string name = text;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (name.empty() || name == "localhost") {
        *host = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    if (host->setAddress(QString::fromStdString(name)))
        return true;
    const QList<QHostAddress> found = QHostInfo::fromName(QString::fromStdString(name)).addresses();
    if (found.isEmpty())
        return false;
    *host = found.front();
    return true;
}

bool ParseListenAddress(const std::string& text, TSimGatewayOptions* options) {
    const std::string tcp = "tcp://", rtu = "rtu+tcp://";
    std::string rest;
    if (text.rfind(tcp, 0) == 0) {
        options->rtuOverTcp = false;
        rest = text.substr(tcp.size());
    } else if (text.rfind(rtu, 0) == 0) {
        options->rtuOverTcp = true;
        rest = text.substr(rtu.size());
    } else {
        return false;
    }
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || !ParseListenHost(rest.substr(0, colon), &options->host))
        return false;
    bool ok = false;
    const uint port = QString::fromStdString(rest.substr(colon + 1)).toUInt(&ok, 10);
    if (!ok || port > 65535)
        return false;
    options->port = static_cast<uint16_t>(port);
    return true;
}

TSimGateway::TSimGateway(const std::vector<TSimUnit*>& units, const TSimGatewayOptions& options)
    : FUnits(units), FOptions(options) {
    QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] { Accept(); });
}

TSimGateway::~TSimGateway() {
    // The sockets are the server's children; their handlers, which reach this, go before them.
    while (!FConnections.empty())
        Close(FConnections.begin()->first);
}

bool TSimGateway::Listen(std::string* error) {
    if (FServer.listen(FOptions.host, FOptions.port))
        return true;
    *error = "cannot listen on " + FOptions.host.toString().toStdString() + ":" +
             std::to_string(FOptions.port) + ": " + FServer.errorString().toStdString();
    return false;
}

std::string TSimGateway::Address() const {
    const QHostAddress host = FServer.serverAddress();
    QString name = host.toString();
    if (host.protocol() == QAbstractSocket::IPv6Protocol)
        name = QLatin1Char('[') + name + QLatin1Char(']');
    return (FOptions.rtuOverTcp ? "rtu+tcp://" : "tcp://") + name.toStdString() + ":" +
           std::to_string(FServer.serverPort());
}

void TSimGateway::Log(const std::string& line) const {
    if (OnLog)
        OnLog(line);
}

void TSimGateway::Trace(TTrafficDirection direction, const std::vector<uint8_t>& bytes) const {
    ReportTraffic(FTrace, TTrafficSide::Unit, direction,
                  FOptions.rtuOverTcp ? TTrafficFraming::Rtu : TTrafficFraming::Tcp, bytes);
}

bool TSimGateway::HasUnit(uint8_t address) const {
    for (const TSimUnit* unit : FUnits) {
        if (unit->Address() == address)
            return true;
    }
    return false;
}

void TSimGateway::Accept() {
    while (QTcpSocket* socket = FServer.nextPendingConnection()) {
        const int id = FNextId++;
        const std::string peer =
            socket->peerAddress().toString().toStdString() + ":" + std::to_string(socket->peerPort());
        if (static_cast<int>(FConnections.size()) >= FOptions.maxConnections) {
            // As a small gateway: the one too many is taken and closed at once.
            if (FOptions.dropAllOnOverflow) {
                Log("connection " + std::to_string(id) + " from " + peer + " is one too many: all " +
                    std::to_string(FConnections.size()) + " others closed");
                while (!FConnections.empty())
                    Close(FConnections.begin()->first);
            } else {
                Log("connection " + std::to_string(id) + " from " + peer +
                    " refused: " + std::to_string(FConnections.size()) + " open already");
            }
            socket->close();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_unique<TConnection>();
        connection->id = id;
        connection->socket = socket;
        connection->quiet = new QTimer(socket);
        connection->quiet->setSingleShot(true);
        connection->quiet->setInterval(RtuQuietMs);
        TConnection* raw = connection.get();
        FConnections[id] = std::move(connection);
        // A connection leaves the map only through Close(), which first cuts these.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, raw] { Receive(*raw); });
        QObject::connect(raw->quiet, &QTimer::timeout, socket, [this, raw] {
            std::vector<uint8_t> frame = raw->receiver.LineQuiet();
            if (!frame.empty())
                Queue(raw->id, 0, std::move(frame));
            Pump();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, id] {
            Log("connection " + std::to_string(id) + " closed by the master");
            Close(id);
        });
        Log("connection " + std::to_string(id) + " from " + peer + " opened (" +
            std::to_string(FConnections.size()) + " of " + std::to_string(FOptions.maxConnections) + ")");
    }
}

void TSimGateway::Receive(TConnection& connection) {
    const QByteArray data = connection.socket->readAll();
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    if (!FOptions.rtuOverTcp) {
        connection.pending.insert(connection.pending.end(), bytes, bytes + data.size());
        TakeMbapRequests(connection);
        Pump(); // last: serving a request may close the connection
        return;
    }
    // No length field: the function code tells where a frame ends, as on the serial line.
    const int id = connection.id;
    for (std::vector<uint8_t>& frame : connection.receiver.Receive(bytes, static_cast<size_t>(data.size())))
        Queue(id, 0, std::move(frame));
    if (connection.receiver.Held() > 0 || connection.receiver.Discarding())
        connection.quiet->start();
    else
        connection.quiet->stop();
    Pump();
}

void TSimGateway::TakeMbapRequests(TConnection& connection) {
    std::vector<uint8_t>& pending = connection.pending;
    while (pending.size() >= MbapLength) {
        const uint16_t protocol = Word(pending.data() + 2);
        const uint16_t length = Word(pending.data() + 4);
        if (protocol != 0 || length < 2 || length > 254) {
            Log("connection " + std::to_string(connection.id) + ": not a Modbus TCP header, closed");
            Close(connection.id);
            return;
        }
        const size_t total = 6 + static_cast<size_t>(length);
        if (pending.size() < total)
            return;
        // The request as the units' line carries it: unit id as slave address, PDU, CRC.
        std::vector<uint8_t> frame(pending.begin() + 6, pending.begin() + static_cast<long>(total));
        const uint16_t crc = Crc16(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        Queue(connection.id, Word(pending.data()), std::move(frame));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(total));
    }
}

void TSimGateway::Queue(int connection, uint16_t transaction, std::vector<uint8_t> frame) {
    if (FTrace != nullptr) {
        // As it came: a Modbus TCP request with its header again.
        Trace(TTrafficDirection::Received,
              FOptions.rtuOverTcp
                  ? frame
                  : MbapFrame(transaction, frame.front(), frame.data() + 1, frame.size() - 3));
    }
    FQueue.push_back(TRequest{connection, transaction, std::move(frame)});
}

// One request at a time for all connections, as the gateway's one serial line serves them.
void TSimGateway::Pump() {
    while (!FBusy && !FQueue.empty()) {
        const TRequest request = std::move(FQueue.front());
        FQueue.pop_front();
        if (++FRequests == FOptions.closeAt) {
            Log("connection " + std::to_string(request.connection) + " closed at request " +
                std::to_string(FRequests) + " (fault close)");
            Close(request.connection);
            continue;
        }
        std::chrono::microseconds lineTime{0};
        const std::vector<uint8_t> bytes = Answer(request, &lineTime);
        const auto delay = std::chrono::milliseconds(FOptions.hopDelayMs) + lineTime;
        // Whole milliseconds, the nearest: a line time rounded up each time would add up.
        const int delayMs = static_cast<int>((delay.count() + 500) / 1000);
        if (delayMs <= 0) {
            Finish(request.connection, bytes);
            continue;
        }
        FBusy = true;
        QTimer::singleShot(delayMs, Qt::PreciseTimer, &FServer, [this, id = request.connection, bytes] {
            FBusy = false;
            Finish(id, bytes);
            Pump();
        });
    }
}

std::vector<uint8_t> TSimGateway::Answer(const TRequest& request, std::chrono::microseconds* lineTime) {
    const uint8_t address = request.frame.front();
    if (!FOptions.rtuOverTcp && address != 0 && !HasUnit(address)) {
        const uint8_t code = FOptions.pathUnavailable ? GatewayPathUnavailable : GatewayTargetFailed;
        Log("unit " + std::to_string(address) + ": no such unit, exception " + std::to_string(code));
        const uint8_t pdu[] = {static_cast<uint8_t>(request.frame[1] | 0x80), code};
        return MbapFrame(request.transaction, address, pdu, sizeof pdu);
    }
    // Every unit hears every frame, as on the line behind a gateway; the one addressed answers.
    TSimReply reply;
    for (TSimUnit* unit : FUnits) {
        TSimReply answer = unit->Handle(request.frame.data(), request.frame.size());
        if (!answer.bytes.empty())
            reply = std::move(answer);
    }
    *lineTime = std::chrono::milliseconds(reply.delayMs);
    if (FOptions.wireSpeed)
        *lineTime += TSimPort::WireTime(request.frame.size() + reply.bytes.size());
    if (FOptions.rtuOverTcp || address == 0)
        return reply.bytes;
    return GatewayReply(request, reply.bytes);
}

// A Modbus TCP gateway passes on a sound reply; for a lost or spoilt one it answers exception 11.
std::vector<uint8_t> TSimGateway::GatewayReply(const TRequest& request,
                                               const std::vector<uint8_t>& rtuReply) {
    if (rtuReply.size() < 4 || !HasValidCrc16(rtuReply.data(), rtuReply.size())) {
        const uint8_t address = request.frame.front();
        Log("unit " + std::to_string(address) + ": no sound reply, exception " +
            std::to_string(GatewayTargetFailed));
        const uint8_t pdu[] = {static_cast<uint8_t>(request.frame[1] | 0x80), GatewayTargetFailed};
        return MbapFrame(request.transaction, address, pdu, sizeof pdu);
    }
    // The reply's own address goes back as the unit id, so a reply from another unit shows.
    return MbapFrame(request.transaction, rtuReply.front(), rtuReply.data() + 1, rtuReply.size() - 3);
}

void TSimGateway::Finish(int id, const std::vector<uint8_t>& bytes) {
    const auto found = FConnections.find(id);
    if (found == FConnections.end())
        return; // closed while its request waited
    TConnection& connection = *found->second;
    if (!bytes.empty()) {
        connection.socket->write(reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<qint64>(bytes.size()));
        Trace(TTrafficDirection::Sent, bytes);
    }
    ++connection.served;
    if (FOptions.closeAfter > 0 && connection.served >= FOptions.closeAfter) {
        Log("connection " + std::to_string(id) + " closed after " + std::to_string(connection.served) +
            " requests");
        Close(id);
    }
}

void TSimGateway::Close(int id) {
    const auto found = FConnections.find(id);
    if (found == FConnections.end())
        return;
    QTcpSocket* socket = found->second->socket;
    QTimer* quiet = found->second->quiet;
    FConnections.erase(found);
    // The socket and its timer may be the senders of the signal being handled: they go later.
    QObject::disconnect(socket, nullptr, socket, nullptr);
    QObject::disconnect(quiet, nullptr, socket, nullptr);
    quiet->stop();
    // What was written goes out first; the socket lives until it has.
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    else
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}
