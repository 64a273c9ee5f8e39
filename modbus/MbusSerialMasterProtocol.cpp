#include "modbus/MbusSerialMasterProtocol.h"

MbusSerialMasterProtocol::MbusSerialMasterProtocol() : FPort(std::make_unique<SerialPort>()) {}

MbusSerialMasterProtocol::MbusSerialMasterProtocol(std::unique_ptr<SerialPort> port)
    : FPort(std::move(port)) {}

MbusSerialMasterProtocol::~MbusSerialMasterProtocol() {
    MbusSerialMasterProtocol::Close();
}

bool MbusSerialMasterProtocol::IsOpen() const {
    return FPort->IsOpen();
}

void MbusSerialMasterProtocol::Close() {
    FPort->Close();
}

int32_t MbusSerialMasterProtocol::Transaction(int32_t slave, int32_t function, const uint8_t* request,
                                              int32_t requestLength, uint8_t* reply, int32_t replyLength) {
    int32_t remaining = FRetryCount;
    if (!IsOpen())
        return FTALK_ILLEGAL_STATE_ERROR;
    for (;;) {
        const int32_t result = ExchangeFrame(slave, function, request, requestLength, reply, replyLength);
        // Only faults of the line itself are worth another try; a send time-out, an I/O error
        // or the unit's own exception reply would come out the same again.
        const bool lineFault = result == FTALK_CHECKSUM_ERROR || result == FTALK_INVALID_FRAME_ERROR ||
                               result == FTALK_REPLY_TIMEOUT_ERROR;
        if (!lineFault || remaining <= 0)
            return result;
        --remaining;
    }
}

int32_t MbusSerialMasterProtocol::Open(const std::string& portName, int32_t baudRate, int32_t dataBits,
                                       int32_t stopBits, int32_t parity) {
    if (IsOpen())
        return FTALK_ILLEGAL_STATE_ERROR;
    if (dataBits != 7 && dataBits != 8)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    const int32_t opened = FPort->Open(portName);
    if (opened == SerialPort::AccessDenied)
        return FTALK_PORT_ALREADY_OPEN;
    if (opened != SerialPort::Success)
        return FTALK_OPEN_ERR;
    if (FPort->Configure(baudRate, dataBits, stopBits, parity) != SerialPort::Success)
        return FTALK_ILLEGAL_ARGUMENT_ERROR;
    return FTALK_SUCCESS;
}
