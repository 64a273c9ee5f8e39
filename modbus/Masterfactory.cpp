#include "modbus/Masterfactory.h"

#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/MbusRtuTcpMasterProtocol.h"
#include "modbus/MbusTcpMasterProtocol.h"
#include "modbus/Unitmap.h"

#include <QThread>
#include <condition_variable>
#include <functional>

// The thread that owns the connection: it runs one job at a time for whoever asks and waits.
class TGatewayMaster::TLine : public QThread {
public:
    explicit TLine(TPortKind kind) : FKind(kind) { start(); }
    ~TLine() override {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FQuit = true;
        }
        FChanged.notify_all();
        wait();
    }
    TLine(const TLine&) = delete;
    TLine& operator=(const TLine&) = delete;

    void Run(const std::function<void(MbusTcpMasterBase&)>& job) {
        // One caller at a time: the worker of a session, or the owner between sessions.
        std::lock_guard<std::mutex> caller(FCallers);
        std::unique_lock<std::mutex> lock(FLock);
        FJob = &job;
        FDone = false;
        FChanged.notify_all();
        FChanged.wait(lock, [this] { return FDone; });
    }

protected:
    void run() override {
        // Made, used and closed on this thread only.
        std::unique_ptr<MbusTcpMasterBase> master;
        if (FKind == TPortKind::RtuOverTcp)
            master = std::make_unique<MbusRtuTcpMasterProtocol>();
        else
            master = std::make_unique<MbusTcpMasterProtocol>();
        std::unique_lock<std::mutex> lock(FLock);
        for (;;) {
            FChanged.wait(lock, [this] { return FQuit || FJob != nullptr; });
            if (FJob == nullptr)
                break;
            const std::function<void(MbusTcpMasterBase&)>* job = FJob;
            FJob = nullptr;
            lock.unlock();
            (*job)(*master);
            lock.lock();
            FDone = true;
            FChanged.notify_all();
        }
        lock.unlock();
        master.reset();
    }

private:
    const TPortKind FKind;
    std::mutex FCallers;
    std::mutex FLock;
    std::condition_variable FChanged;
    const std::function<void(MbusTcpMasterBase&)>* FJob = nullptr;
    bool FDone = false;
    bool FQuit = false;
};

bool IsGateway(const TPortTarget& target) {
    return target.kind == TPortKind::ModbusTcp || target.kind == TPortKind::RtuOverTcp;
}

TGatewayMaster::TGatewayMaster(const TPortTarget& target)
    : FTarget(target), FLine(std::make_unique<TLine>(target.kind)) {}

TGatewayMaster::~TGatewayMaster() {
    // The line's thread closes the connection as it ends.
    FLine.reset();
}

int32_t TGatewayMaster::Open() {
    if (FOpen)
        return FTALK_ILLEGAL_STATE_ERROR;
    const int32_t retries = FRetryCount;
    int32_t result = FTALK_SUCCESS;
    std::string text;
    FLine->Run([&](MbusTcpMasterBase& master) {
        master.SetRetryCount(retries);
        result = master.Open(FTarget.host, FTarget.networkPort);
        text = master.LastErrorText();
    });
    FOpen = result == FTALK_SUCCESS;
    FLastCode = result;
    std::lock_guard<std::mutex> lock(FTextLock);
    FLastError = text;
    return result;
}

void TGatewayMaster::Close() {
    FLine->Run([](MbusTcpMasterBase& master) { master.Close(); });
    FOpen = false;
}

int32_t TGatewayMaster::Transaction(int32_t slave, int32_t function, const uint8_t* request,
                                    int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    const int32_t timeout = FTimeout;
    int32_t result = FTALK_SUCCESS;
    std::string text;
    FLine->Run([&](MbusTcpMasterBase& master) {
        master.SetTimeout(timeout);
        result = master.Transaction(slave, function, request, requestLength, reply, replyLength);
        text = master.LastErrorText();
    });
    FLastCode = result;
    std::lock_guard<std::mutex> lock(FTextLock);
    FLastError = text;
    return result;
}

void TGatewayMaster::SetTrafficSink(TTrafficSink* sink) {
    MbusMasterFunctions::SetTrafficSink(sink);
    FLine->Run([sink](MbusTcpMasterBase& master) { master.SetTrafficSink(sink); });
}

std::string TGatewayMaster::LastErrorText() const {
    std::lock_guard<std::mutex> lock(FTextLock);
    return FLastError;
}

std::string TGatewayMaster::GatewayAddress() const {
    const std::string text = GatewayText(FTarget);
    return text.substr(text.find("//") + 2);
}

std::unique_ptr<MbusMasterFunctions> MakeMaster(const TPortTarget& target) {
    if (!IsGateway(target))
        return std::make_unique<MbusRtuMasterProtocol>();
    auto master = std::make_unique<TGatewayMaster>(target);
    master->SetTimeout(master->Timeout() + GatewayReplyMarginMs);
    return master;
}

std::shared_ptr<TGatewayMaster> MakeGatewayMaster(const TPortTarget& target) {
    auto master = std::make_shared<TGatewayMaster>(target);
    master->SetTimeout(master->Timeout() + GatewayReplyMarginMs);
    return master;
}

int32_t OpenMaster(MbusMasterFunctions& master, const TPortTarget& target) {
    if (auto* gateway = dynamic_cast<TGatewayMaster*>(&master); gateway != nullptr && IsGateway(target))
        return gateway->Open();
    if (auto* serial = dynamic_cast<MbusSerialMasterProtocol*>(&master);
        serial != nullptr && !IsGateway(target))
        return serial->Open(target.name, Unitmap::BaudRate, Unitmap::DataBits, Unitmap::StopBits,
                            Unitmap::NoParity);
    return FTALK_ILLEGAL_ARGUMENT_ERROR;
}

std::string MasterErrorText(const MbusMasterFunctions& master) {
    const auto* gateway = dynamic_cast<const TGatewayMaster*>(&master);
    return gateway != nullptr ? gateway->LastErrorText() : std::string();
}
