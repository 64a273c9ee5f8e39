#include "modbus/MbusTcpMasterBase.h"

#include <algorithm>

MbusTcpMasterBase::MbusTcpMasterBase() : FPort(std::make_unique<TcpPort>()) {}

MbusTcpMasterBase::MbusTcpMasterBase(std::unique_ptr<TcpPort> port) : FPort(std::move(port)) {}

MbusTcpMasterBase::~MbusTcpMasterBase() {
    MbusTcpMasterBase::Close();
}

std::string MbusTcpMasterBase::GatewayAddress() const {
    const std::string host = FHost.find(':') != std::string::npos ? "[" + FHost + "]" : FHost;
    return host + ":" + std::to_string(FNetworkPort);
}

int32_t MbusTcpMasterBase::Fail(int32_t code, const std::string& reason) {
    FLastError = ErrorText(code) + ": " + GatewayAddress();
    if (!reason.empty())
        FLastError += ": " + reason;
    return code;
}

int32_t MbusTcpMasterBase::Open(const std::string& host, int32_t port) {
    if (FOpen)
        return FTALK_ILLEGAL_STATE_ERROR;
    FHost = host;
    FNetworkPort = port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
    if (FNetworkPort == 0)
        return Fail(FTALK_PORT_NOT_AVAIL, "use 1 to 65535");
    const int32_t connected = FPort->Connect(FHost, FNetworkPort);
    if (connected != TcpPort::Success)
        return Fail(FTALK_TCPIP_CONNECT_ERR, FPort->ErrorString());
    FOpen = true;
    FLastError.clear();
    return FTALK_SUCCESS;
}

void MbusTcpMasterBase::Close() {
    FPort->Close();
    FOpen = false;
}

int32_t MbusTcpMasterBase::Prepare() {
    if (FPort->IsConnected() && FPort->Discard() == TcpPort::Success)
        return FTALK_SUCCESS;
    // Gateways close connections left idle; making it again is no failure of this request.
    FPort->Close();
    if (FPort->Connect(FHost, FNetworkPort) != TcpPort::Success)
        return Fail(FTALK_TCPIP_CONNECT_ERR, FPort->ErrorString());
    return FTALK_SUCCESS;
}

int32_t MbusTcpMasterBase::PortFailure(int32_t portResult, bool sending) {
    if (portResult == TcpPort::Timeout && !sending)
        return Fail(FTALK_REPLY_TIMEOUT_ERROR);
    const std::string reason = FPort->ErrorString();
    // Half a request may still go out later: the next one starts on a new connection.
    FPort->Close();
    if (portResult == TcpPort::Timeout)
        return Fail(FTALK_SEND_TIMEOUT_ERROR);
    return Fail(FTALK_CONNECTION_WAS_CLOSED, reason);
}

void MbusTcpMasterBase::ReportMissingReply(uint8_t* frame, int32_t have, int32_t capacity,
                                           TTrafficFraming framing) {
    if (TrafficSink() == nullptr)
        return;
    const auto waiting = static_cast<int32_t>(std::min<int64_t>(FPort->Waiting(), capacity - have));
    if (waiting > 0 && FPort->Read(frame + have, waiting, TcpPort::Clock::now()) == TcpPort::Success)
        have += waiting;
    if (have > 0)
        Report(TTrafficDirection::Received, framing, frame, have);
    ReportNoReply(framing);
}

void MbusTcpMasterBase::ReplyRejected() {
    Fail(FTALK_INVALID_REPLY_ERROR);
}

int32_t MbusTcpMasterBase::Transaction(int32_t slave, int32_t function, const uint8_t* request,
                                       int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    if (!FOpen)
        return FTALK_ILLEGAL_STATE_ERROR;
    int32_t remaining = FRetryCount;
    for (;;) {
        FLastError.clear();
        const int32_t result = ExchangeFrame(slave, function, request, requestLength, reply, replyLength);
        // As on the serial line: only faults of the transport are worth another try.
        const bool lineFault = result == FTALK_CHECKSUM_ERROR || result == FTALK_INVALID_FRAME_ERROR ||
                               result == FTALK_REPLY_TIMEOUT_ERROR;
        if (!lineFault || remaining <= 0) {
            if (result != FTALK_SUCCESS && FLastError.empty())
                Fail(result);
            return result;
        }
        --remaining;
    }
}
