#pragma once
// One port's frames on their way to the window's traffic log: each is kept with the port's name,
// as the command line's trace file names its target, so frames of several ports tell apart.
#include "modbus/Trafficframe.h"

#include <string>

class TTrafficLog;

class TPortTrafficSink : public TTrafficSink {
public:
    // `target` as the trace file writes it: "COM3", a device path or "tcp://10.0.0.5:502".
    TPortTrafficSink(TTrafficLog& log, std::string target);

    // Any thread: the name never changes and the log locks itself.
    void Frame(const TTrafficFrame& frame) override;

    const std::string& Target() const { return FTarget; }

private:
    TTrafficLog& FLog;
    const std::string FTarget;
};
