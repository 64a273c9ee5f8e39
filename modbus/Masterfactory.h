#pragma once
// Makes and opens the master that reaches a target: the serial RTU master for a comm port or a
// device path, a Modbus TCP or RTU over TCP master for a gateway.
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Porttarget.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

// What a gateway adds to the serial reply time-out: it first has to pass the request on to its
// own line and the reply back, and the network adds its own delays. Half a second covers a
// gateway that queues a request behind another master's.
inline constexpr int32_t GatewayReplyMarginMs = 500;

bool IsGateway(const TPortTarget& target);

// A network master to one gateway. Its connection lives on a thread of its own, whatever thread
// asks: a socket may only be used by the thread that made it, and the connection outlives the
// worker of one session (the units behind a gateway go one after another over one connection).
// Every call waits for its job there; it never throws.
class TGatewayMaster : public MbusMasterFunctions {
public:
    explicit TGatewayMaster(const TPortTarget& target);
    ~TGatewayMaster() override;

    // 0, or the code of MbusTcpMasterBase::Open (68 when the gateway cannot be reached).
    int32_t Open();
    bool IsOpen() const override { return FOpen; }
    void Close() override;
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* reply, int32_t replyLength) override;
    // Handed to the master on the connection's thread, which calls it from there.
    void SetTrafficSink(TTrafficSink* sink) override;

    // The code of the last exchange or open.
    int32_t LastCode() const { return FLastCode; }
    // "TCP/IP connection error: 10.0.0.5:502: Connection refused"; empty after a success.
    std::string LastErrorText() const;
    // "10.0.0.5:502".
    std::string GatewayAddress() const;

private:
    class TLine;
    const TPortTarget FTarget;
    std::unique_ptr<TLine> FLine;
    std::atomic<bool> FOpen{false};
    std::atomic<int32_t> FLastCode{0};
    mutable std::mutex FTextLock;
    std::string FLastError;
};

// The master for `target`, not open yet. A gateway's reply time-out is the serial one plus
// GatewayReplyMarginMs.
std::unique_ptr<MbusMasterFunctions> MakeMaster(const TPortTarget& target);
// MakeMaster's master for a gateway, to be shared.
std::shared_ptr<TGatewayMaster> MakeGatewayMaster(const TPortTarget& target);
// Opens `master`, made by MakeMaster for `target` (or, for a serial target, any serial master):
// a serial line at the unit's line settings, a gateway at its host and port. 0 or the code.
int32_t OpenMaster(MbusMasterFunctions& master, const TPortTarget& target);
// The words for a gateway master's last failure; empty for a serial master.
std::string MasterErrorText(const MbusMasterFunctions& master);
