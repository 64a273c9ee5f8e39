#pragma once
// A device type connected online, in this process, to a simulated unit: the serial manager, its
// worker and the register data store as the window uses them, with the store's reports recorded
// and every Modbus exchange checked to run off the user-interface thread.
#include "SimPort.h"
#include "SimUnit.h"
#include "definitions/Devices.h"
#include "link/Devicelist.h"
#include "link/Serialmanager.h"
#include "modbus/MbusRtuMasterProtocol.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

constexpr int32_t FirstRegister = 101;

// The simulator's unit and line served on a thread of this process, taking the options of
// dezadizi-sim that these tests use. In-process, ThreadSanitizer checks the simulator's thread
// along with ours. Stop() closes the line as a pulled cable.
class TInProcessSim {
public:
    explicit TInProcessSim(const QStringList& arguments) {
        for (int i = 0; i < arguments.size(); ++i) {
            const QString& option = arguments[i];
            const QString value = i + 1 < arguments.size() ? arguments[i + 1] : QString();
            if (option == "--wire-speed") {
                FLine->SetWireSpeed(true);
                continue;
            }
            ++i;
            if (option == "--fault") {
                const QStringList parts = value.split('=');
                FUnit.AddFault(*SimFaultFromName(parts[0].toStdString()), parts[1].toDouble());
            } else if (option == "--fault-at") {
                const QStringList parts = value.split('=');
                FUnit.AddFaultAt(*SimFaultFromName(parts[0].toStdString()), parts[1].toLongLong());
            } else if (option == "--fault-after") {
                FUnit.SetFaultFreeRequests(value.toLongLong());
            } else if (option == "--slow-ms") {
                FUnit.SetSlowDelayMs(value.toInt());
            } else if (option == "--seed") {
                FUnit.SetSeed(value.toUInt());
            } else if (option == "--device-id") {
                FUnit.SetDeviceId(static_cast<uint16_t>(value.toInt()));
            } else if (option == "--state") {
                FStatePath = value.toStdString();
            } else if (option == "--port") {
                FComPort = value;
            } else {
                ADD_FAILURE() << "unknown simulator option " << option.toStdString();
            }
        }
        FUnit.OnLog = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(FLogLock);
            FLog += line + "\n";
        };
        if (!FStatePath.empty() && QFileInfo::exists(QString::fromStdString(FStatePath))) {
            EXPECT_TRUE(FUnit.LoadState(FStatePath));
        }
        std::string error;
        if (!FLine->Create(&error) || ::pipe(FStop) != 0) {
            ADD_FAILURE() << "no simulated line: " << error;
            return;
        }
        FPath = FLine->Path();
        if (!FComPort.isEmpty()) {
            QSettings settings(QStringLiteral("Roduzede"), QStringLiteral("Dezadizi Config Manager"));
            settings.setValue("Ports/" + FComPort, QString::fromStdString(FPath));
        }
        FThread = std::thread([this] { FLine->Serve(FUnit, FStop[0], {}); });
    }
    ~TInProcessSim() {
        Stop();
        for (int fd : FStop) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    TInProcessSim(const TInProcessSim&) = delete;
    TInProcessSim& operator=(const TInProcessSim&) = delete;

    // The pseudo-terminal's path; empty when the line could not be made.
    const std::string& Port() const { return FPath; }
    std::string Errors() const { return {}; }

    // Ends serving and closes the line; the state file is written as the program writes it.
    int Stop() {
        if (!FThread.joinable())
            return 0;
        const char byte = 1;
        EXPECT_EQ(::write(FStop[1], &byte, 1), 1);
        FThread.join();
        FLine.reset();
        if (!FStatePath.empty()) {
            EXPECT_TRUE(FUnit.SaveState(FStatePath));
        }
        if (!FComPort.isEmpty()) {
            QSettings settings(QStringLiteral("Roduzede"), QStringLiteral("Dezadizi Config Manager"));
            settings.remove("Ports/" + FComPort);
        }
        return 0;
    }

    std::string Output() {
        std::lock_guard<std::mutex> guard(FLogLock);
        return FLog;
    }
    int CountLines(const std::string& text) {
        const std::string log = Output();
        int count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

private:
    TSimUnit FUnit;
    std::unique_ptr<TSimPort> FLine = std::make_unique<TSimPort>();
    std::string FPath;
    std::thread FThread;
    int FStop[2] = {-1, -1};
    std::string FStatePath;
    QString FComPort;
    std::mutex FLogLock;
    std::string FLog;
};

// The RTU master the window uses, with a shorter time-out, that counts exchanges made on the
// user-interface thread (there must be none: a window waiting on the line freezes).
class TWatchedMaster : public MbusRtuMasterProtocol {
public:
    explicit TWatchedMaster(std::atomic<int>* onUiThread) : FOnUiThread(onUiThread) { SetTimeout(250); }
    int32_t Transaction(int32_t slave, int32_t function, const uint8_t* request, int32_t requestLength,
                        uint8_t* reply, int32_t replyLength) override {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++*FOnUiThread;
        return MbusRtuMasterProtocol::Transaction(slave, function, request, requestLength, reply,
                                                  replyLength);
    }

private:
    std::atomic<int>* FOnUiThread;
};

// CPU time of the whole process, in seconds.
inline double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct TReport {
    std::string text;
    bool error;
    bool failed;
};

class TLineFixture : public ::testing::Test {
public:
    TTempDir dir;
    TRegisterDataStore store;
    TDevices devices{store};
    std::atomic<int> uiThreadExchanges{0};
    std::unique_ptr<TSerialManager> manager;
    TDevice* device = nullptr;
    std::mutex lock;
    std::vector<TReport> reports;

    void Load(int coils, int registers) {
        devices.LoadFromFile(dir.Write("Devices.xml", LineDefinitions(coils, registers)));
        manager = std::make_unique<TSerialManager>(
            &store, [this] { return std::make_unique<TWatchedMaster>(&uiThreadExchanges); });
        store.OnProgress = [this](TRegisterDataStore* sender, const std::string& text, bool error, int32_t) {
            // On the worker, under the device-list lock: record only.
            std::lock_guard<std::mutex> guard(lock);
            reports.push_back({text, error, sender->HasFailed()});
        };
    }

    void TearDown() override {
        if (device != nullptr && manager)
            manager->DisconnectDevice(device);
        manager.reset();
    }

    std::unique_ptr<TInProcessSim> StartSim(QStringList arguments) {
        arguments << "--device-id"
                  << "17";
        auto sim = std::make_unique<TInProcessSim>(arguments);
        EXPECT_FALSE(sim->Port().empty());
        return sim;
    }

    // Services the user-interface thread's events until `done` or the deadline.
    // The thread sleeps between events (a tick wakes it to look at `done`), so the process's
    // CPU time is the workers'.
    static bool WaitFor(const std::function<bool()>& done, int milliseconds = 20000) {
        QElapsedTimer timer;
        timer.start();
        QTimer tick;
        tick.start(5);
        while (!done()) {
            if (timer.elapsed() > milliseconds)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    // Searches `port` (a "COMn" name or a path, opened as comm port 1) as the connect dialog
    // does; the found flag, or false when the search did not end.
    bool Search(const std::string& port, int32_t* id = nullptr) {
        manager->MapPort(1, port);
        bool ended = false;
        bool found = false;
        int32_t foundId = -1;
        manager->SearchForDevice(1, 1, [&](TSerialThread*, int32_t deviceId, bool isFound) {
            ended = true;
            found = isFound;
            foundId = deviceId;
        });
        EXPECT_TRUE(WaitFor([&] { return ended; }));
        if (id != nullptr)
            *id = foundId;
        return ended && found;
    }

    // Connects the unit's device type online as the window does; the read run starts.
    bool Connect(const std::string& port) {
        int32_t id = -1;
        if (!Search(port, &id))
            return false;
        device = devices.DeviceById(id);
        device->CommPort = 1;
        device->Address = 1;
        device->Online = true;
        device->Settings->ClearPending();
        ClearReports();
        store.Reset();
        manager->ConnectDevice(device);
        return true;
    }

    void Disconnect() {
        manager->DisconnectDevice(device);
        device->Online = false;
        device = nullptr;
    }

    void ClearReports() {
        std::lock_guard<std::mutex> guard(lock);
        reports.clear();
    }
    std::vector<TReport> Reports() {
        std::lock_guard<std::mutex> guard(lock);
        return reports;
    }
    // The text of the run's failing report; empty when none came.
    std::string FailureText() {
        for (const TReport& report : Reports()) {
            if (report.error)
                return report.text;
        }
        return {};
    }
    size_t GoodReports() {
        size_t count = 0;
        for (const TReport& report : Reports())
            count += report.error ? 0 : 1;
        return count;
    }

    // Waits for the current run to end: complete, or failed with a report. True when complete.
    bool AwaitRun(int milliseconds = 60000) {
        const bool ended = WaitFor(
            [&] {
                const TStoreState state = store.State();
                return (state == ssIdle && store.HasFailed() && !FailureText().empty()) ||
                       (state == ssIdle && !store.HasFailed());
            },
            milliseconds);
        EXPECT_TRUE(ended) << "the run did not end";
        return ended && !store.HasFailed();
    }

    void Write() {
        ClearReports();
        store.StartWrite();
    }

    // The program's image of every registered coil and register.
    std::vector<int32_t> Image(int coils, int registers) const {
        std::vector<int32_t> image;
        for (int i = 0; i < coils; ++i)
            image.push_back(store.GetCoil(1 + i) ? 1 : 0);
        for (int i = 0; i < registers; ++i) {
            int16_t value = 0;
            store.GetHoldingRegisters(FirstRegister + i, &value, 1);
            image.push_back(value);
        }
        return image;
    }
    void SetImage(const std::vector<int32_t>& image, int coils, int registers) {
        for (int i = 0; i < coils; ++i)
            store.SetCoil(1 + i, image[static_cast<size_t>(i)] != 0);
        for (int i = 0; i < registers; ++i)
            store.SetHoldingRegister(FirstRegister + i,
                                     static_cast<int16_t>(image[static_cast<size_t>(coils + i)]));
    }

    // The share of one core the process used over `milliseconds` while its event loop waited.
    static double CpuShareWhileWaiting(int milliseconds) {
        const double before = ProcessCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        WaitFor([] { return false; }, milliseconds);
        return (ProcessCpuSeconds() - before) / (static_cast<double>(timer.elapsed()) / 1000.0);
    }
};
