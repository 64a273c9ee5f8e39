#include "link/Serialthread.h"

#include "link/Devicelist.h"
#include "modbus/MbusMasterFunctions.h"
#include "modbus/Registerdatastore.h"
#include "model/Errors.h"

#include <QMetaObject>
#include <chrono>
#include <exception>

namespace {

// The unit reports its device id in input register reference 4.
constexpr int32_t DeviceIdRegister = 4;
constexpr int SearchAttempts = 2;
// Pacing of the loop: 1 ms while there is work; an idle connection (store idle, nothing polled
// to show) rests longer so it costs next to no CPU. A search or a write run starts within it.
constexpr unsigned long BusySleepMs = 1;
constexpr unsigned long IdleSleepMs = 10;

} // namespace

TSerialThread::TSerialThread(MbusMasterFunctions* protocol, TDeviceList* devices)
    : Protocol(protocol), Devices(devices) {
    start();
}

TSerialThread::~TSerialThread() {
    requestInterruption();
    wait();
}

void TSerialThread::RequestSearch(int32_t address, TSearchCallback callback) {
    if (FSearchPending)
        throw TModelError("Can only search for 1 device at a time on any comm port.");
    FSearchAddress = address;
    FSearchCallback = std::move(callback);
    FSearchResult = -1;
    FSearchFound = false;
    FSearchPending = true;
    // Raised last, so the worker sees a complete request.
    FSearchRequested.store(true, std::memory_order_release);
}

void TSerialThread::WithdrawSearchCallback() {
    FSearchCallback = nullptr;
}

void TSerialThread::DeliverSearchResult() {
    if (FSearchCallback) {
        TSearchCallback callback = std::move(FSearchCallback);
        FSearchCallback = nullptr;
        callback(this, FSearchResult, FSearchFound);
    }
    FSearchPending = false;
}

// Runs `routine` on the user-interface thread (where this object lives) and waits for it.
void TSerialThread::HandOver(void (TSerialThread::*routine)()) {
    QMetaObject::invokeMethod(
        this, [this, routine] { (this->*routine)(); }, Qt::BlockingQueuedConnection);
}

void TSerialThread::RefreshDevices() {
    Devices->RefreshDevices();
}

void TSerialThread::Search() {
    int16_t value = 0;
    int32_t result = -1;
    for (int attempt = 0; attempt < SearchAttempts && result != 0; ++attempt)
        result = Protocol->ReadInputRegisters(FSearchAddress, DeviceIdRegister, &value, 1);
    FSearchFound = result == 0;
    FSearchResult = FSearchFound ? static_cast<int32_t>(value) : -1;
    FSearchRequested = false;
    HandOver(&TSerialThread::DeliverSearchResult);
}

void TSerialThread::run() {
    while (!isInterruptionRequested()) {
        bool refresh = true;
        bool idle = false;
        try {
            if (FSearchRequested.load(std::memory_order_acquire))
                Search();
            TRegisterDataStore* store = Devices->Store();
            switch (store != nullptr ? store->State() : ssIdle) {
            case ssCollecting:
            case ssReading:
                Devices->ReadDevices(Protocol, CommPort);
                break;
            case ssWriting:
                Devices->WriteDevices(Protocol, CommPort);
                break;
            case ssIdle:
                // Nothing to show means nothing to hand over: an idle connection costs no
                // user-interface work.
                refresh = Devices->PollDevices(Protocol, CommPort);
                idle = !refresh && !FSearchRequested;
                break;
            }
            if (refresh)
                HandOver(&TSerialThread::RefreshDevices);
        } catch (const std::exception&) {
            // A failing pass ends silently; the store's reports carry run failures.
        }
        msleep(idle ? IdleSleepMs : BusySleepMs);
    }
}
