#include "link/Workerreport.h"

#include <algorithm>
#include <utility>

void TReportQueue::Post(decltype(TWorkerReport::Value) value) {
    std::lock_guard<std::mutex> lock(FLock);
    if (std::holds_alternative<TRefreshReport>(value)) {
        if (FRefreshQueued)
            return;
        FRefreshQueued = true;
    }
    FReports.push_back({std::move(value), FRun});
    FArrived.notify_one();
    // Under the lock, so a wake-up is never lost between a Take and this post; a wake-up only
    // queues an event.
    if (!FWakePending && FWake) {
        FWakePending = true;
        FWake();
    }
}

std::optional<TWorkerReport> TReportQueue::Take() {
    std::lock_guard<std::mutex> lock(FLock);
    // What the owner runs for a report may itself serve events (a message box): a report posted
    // meanwhile wakes it again rather than waiting for this drain to end.
    FWakePending = false;
    if (FReports.empty())
        return std::nullopt;
    TWorkerReport report = std::move(FReports.front());
    FReports.pop_front();
    if (std::holds_alternative<TRefreshReport>(report.Value))
        FRefreshQueued = false;
    return report;
}

bool TReportQueue::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(FLock);
    return FArrived.wait_until(lock, deadline, [this] { return !FReports.empty(); });
}

void TReportQueue::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(FLock);
    FWake = std::move(wake);
    FWakePending = false;
}

void TReportQueue::Discard(const TSerialThread* worker) {
    std::lock_guard<std::mutex> lock(FLock);
    FReports.erase(std::remove_if(FReports.begin(), FReports.end(),
                                  [worker](const TWorkerReport& report) {
                                      const auto* search = std::get_if<TSearchReport>(&report.Value);
                                      return search != nullptr && search->Worker == worker;
                                  }),
                   FReports.end());
}

void TReportQueue::NewRun() {
    std::lock_guard<std::mutex> lock(FLock);
    ++FRun;
}

uint32_t TReportQueue::Run() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FRun;
}
