#pragma once
// The serial-line master: owns the comm port, opens and closes it, and repeats exchanges that
// failed on the line (checksum, framing, reply time-out). The framing is the subclass's.
#include "modbus/MbusMasterFunctions.h"
#include "modbus/SerialPort.h"

#include <memory>
#include <string>

class MbusSerialMasterProtocol : public MbusMasterFunctions {
public:
    MbusSerialMasterProtocol();
    // Tests hand in a scripted port.
    explicit MbusSerialMasterProtocol(std::unique_ptr<SerialPort> port);
    ~MbusSerialMasterProtocol() override;

    bool IsOpen() const override;
    void Close() override;
    // Tries the exchange 1 + retry count times while it fails with 129, 130 or 132.
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* reply, int32_t replyLength) override;
    // Parity 0 none, 1 odd, 2 even. 67 when another program holds the port, 66 for any other
    // open failure, 1 when the line refuses the configuration (the port then stays open).
    virtual int32_t Open(const std::string& portName, int32_t baudRate, int32_t dataBits, int32_t stopBits,
                         int32_t parity);

protected:
    // One attempt, without repetition.
    virtual int32_t ExchangeFrame(int32_t slave, int32_t function, const uint8_t* request,
                                  int32_t requestLength, uint8_t* reply, int32_t replyLength) = 0;

    std::unique_ptr<SerialPort> FPort;
};
