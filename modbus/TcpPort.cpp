#include "modbus/TcpPort.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

namespace {

// Milliseconds left until the deadline, rounded up so a wait never ends early; 0 when past.
int RemainingMs(TcpPort::Clock::time_point deadline) {
    const auto left = deadline - TcpPort::Clock::now();
    if (left <= TcpPort::Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

bool Connected(const QTcpSocket& socket) {
    return socket.state() == QAbstractSocket::ConnectedState;
}

} // namespace

TcpPort::TcpPort() = default;

TcpPort::~TcpPort() {
    TcpPort::Close();
}

int32_t TcpPort::Failure(int32_t code, const std::string& reason) {
    FError = reason;
    return code;
}

int32_t TcpPort::Connect(const std::string& host, uint16_t port) {
    Close();
    const auto deadline = Clock::now() + std::chrono::milliseconds(ConnectTimeoutMs);
    // The name is looked up here rather than by the socket: its own look-up wants an event loop.
    QList<QHostAddress> addresses;
    if (QHostAddress address; address.setAddress(QString::fromStdString(host))) {
        addresses.append(address);
    } else {
        const QHostInfo info = QHostInfo::fromName(QString::fromStdString(host));
        addresses = info.addresses();
        if (addresses.isEmpty())
            return Failure(HostNotFound, "Host not found");
    }
    int32_t result = GeneralFailure;
    for (const QHostAddress& address : addresses) {
        auto socket = std::make_unique<QTcpSocket>();
        // A peer that floods must not grow memory: the system holds what does not fit.
        socket->setReadBufferSize(ReadBufferBytes);
        socket->connectToHost(address, port);
        if (socket->waitForConnected(RemainingMs(deadline))) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            FSocket = std::move(socket);
            FError.clear();
            return Success;
        }
        if (socket->error() == QAbstractSocket::SocketTimeoutError || RemainingMs(deadline) == 0) {
            result = Failure(ConnectTimeout,
                             "No answer within " + std::to_string(ConnectTimeoutMs / 1000) + " seconds");
        } else {
            result =
                Failure(socket->error() == QAbstractSocket::ConnectionRefusedError ? Refused : GeneralFailure,
                        socket->errorString().toStdString());
        }
        socket->abort();
        if (RemainingMs(deadline) == 0)
            break;
    }
    return result;
}

bool TcpPort::IsConnected() const {
    return FSocket && Connected(*FSocket);
}

void TcpPort::Close() {
    if (FSocket) {
        FSocket->abort();
        FSocket.reset();
    }
}

int32_t TcpPort::Write(const uint8_t* buffer, int32_t length, int32_t timeoutMs) {
    if (!IsConnected())
        return Failure(Closed, "Not connected");
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (FSocket->write(reinterpret_cast<const char*>(buffer), length) != length)
        return Failure(Closed, FSocket->errorString().toStdString());
    while (FSocket->bytesToWrite() > 0) {
        if (FSocket->waitForBytesWritten(RemainingMs(deadline)))
            continue;
        if (!Connected(*FSocket))
            return Failure(Closed, FSocket->errorString().toStdString());
        if (RemainingMs(deadline) == 0)
            return Failure(Timeout, "Send time-out");
    }
    return Success;
}

int32_t TcpPort::Read(uint8_t* buffer, int32_t length, Clock::time_point deadline) {
    if (!FSocket)
        return Failure(Closed, "Not connected");
    // What came before the peer closed is still read; only then is the closing an error.
    while (FSocket->bytesAvailable() < length) {
        if (!Connected(*FSocket))
            return Failure(Closed, FSocket->errorString().toStdString());
        const int remaining = RemainingMs(deadline);
        if (remaining == 0)
            return Failure(Timeout, "Reply time-out");
        FSocket->waitForReadyRead(remaining); // the loop tells a time-out from a close
    }
    return FSocket->read(reinterpret_cast<char*>(buffer), length) == length
               ? Success
               : Failure(Closed, FSocket->errorString().toStdString());
}

int64_t TcpPort::Waiting() const {
    return FSocket ? FSocket->bytesAvailable() : 0;
}

int32_t TcpPort::Discard() {
    if (!FSocket)
        return Failure(Closed, "Not connected");
    // Bounded: a peer that never stops sending is met by the reply's own checks instead.
    constexpr int rounds = 64;
    char scratch[ReadBufferBytes];
    for (int i = 0; i < rounds; ++i) {
        while (FSocket->read(scratch, sizeof scratch) > 0) {
        }
        if (!FSocket->waitForReadyRead(0))
            break;
    }
    if (!Connected(*FSocket))
        return Failure(Closed, FSocket->errorString().toStdString());
    return Success;
}

std::string TcpPort::ErrorString() const {
    return FError;
}
