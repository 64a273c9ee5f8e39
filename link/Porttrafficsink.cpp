#include "link/Porttrafficsink.h"

#include "link/Trafficlog.h"

TPortTrafficSink::TPortTrafficSink(TTrafficLog& log, std::string target)
    : FLog(log), FTarget(std::move(target)) {}

void TPortTrafficSink::Frame(const TTrafficFrame& frame) {
    FLog.Frame(frame, FTarget);
}
