#include "link/Serialmanager.h"
#include "definitions/Devices.h"
#include "link/Devicelist.h"
#include "link/Trafficlog.h"
#include "modbus/Registerdatastore.h"
#include "settings/Setting.h"
#include "settings/Settings.h"
#include "support/FakeUnit.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace {

const char* const Definitions = R"(<rur>
  <device name="Unit A" device_id="17" live_status_id="0" settings_id="1"/>
  <device name="Unit B" device_id="18" live_status_id="0" settings_id="1"/>
  <settings settings_id="1">
    <group name="Main" description="d">
      <setting value_type="int" name="Speed" register="9" type="holding_register" min="0" max="1000" default="5" value_text="%"/>
      <setting value_type="int" name="Limit" register="10" type="holding_register" min="0" max="1000" default="6" value_text="%"/>
      <setting value_type="checkbox" name="Enable" register="2" type="coil" default="checked"/>
      <setting value_type="int" name="Far" register="300" type="holding_register" min="-100" max="100" default="0" value_text="x"/>
    </group>
  </settings>
</rur>)";

// Services events until `done` or the deadline; the workers' reports are taken meanwhile.
bool WaitFor(const std::function<bool()>& done, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Found {
    int32_t id;
    bool found;
};

struct LinkFixture : ::testing::Test {
    TTempDir dir;
    TRegisterDataStore store;
    TDevices devices{store};
    std::shared_ptr<TFakeUnit> unit = std::make_shared<TFakeUnit>();
    int factoryCalls = 0;
    std::unique_ptr<TSerialManager> manager;
    // Reports arrive on the worker while the test looks at them.
    std::mutex reportsLock;
    std::vector<std::string> reports;
    std::vector<std::string> Reports() {
        std::lock_guard<std::mutex> guard(reportsLock);
        return reports;
    }
    std::atomic<int> beginReads{0};

    void SetUp() override {
        devices.LoadFromFile(dir.Write("Devices.xml", Definitions));
        manager = std::make_unique<TSerialManager>(&store, [this] {
            ++factoryCalls;
            return std::make_unique<TFakeSerialUnit>(unit);
        });
        store.OnProgress = [this](TRegisterDataStore*, const std::string& text, bool error, int32_t) {
            std::lock_guard<std::mutex> guard(reportsLock);
            reports.push_back((error ? "!" : "") + text);
        };
        manager->DeviceList()->OnBeginRead = [this] { ++beginReads; };
        unit->inputs[4] = 17;
    }

    void TearDown() override { manager.reset(); }

    std::optional<Found> Search(int32_t port) {
        std::optional<Found> result;
        manager->SearchForDevice(port, 1, [&](TSerialThread*, int32_t id, bool found) {
            result = Found{id, found};
        });
        EXPECT_TRUE(WaitFor([&] { return result.has_value(); }));
        return result;
    }

    TDevice* ConnectOnline(int index, int32_t port) {
        TDevice* device = devices.DeviceByIndex(index);
        device->CommPort = port;
        device->Address = 1;
        device->Online = true;
        device->Settings->ClearPending();
        store.Reset();
        manager->ConnectDevice(device);
        return device;
    }
};

} // namespace

TEST_F(LinkFixture, SearchFindsTheUnitsDeviceId) {
    const auto result = Search(3);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->id, 17);
    EXPECT_TRUE(result->found);
    ASSERT_EQ(unit->requests.size(), 1u);
    EXPECT_EQ(unit->requests[0].function, 4);
    EXPECT_EQ(unit->requests[0].address, 4);
    EXPECT_TRUE(manager->HasThreadOnPort(3));
}

TEST_F(LinkFixture, MastersReportToTheTrafficLogUnlessTheyReportElsewhere) {
    TTrafficLog log;
    TTrafficLog own;
    TTrafficLog* preset = nullptr;
    MbusMasterFunctions* made = nullptr;
    manager = std::make_unique<TSerialManager>(&store, [&] {
        auto master = std::make_unique<TFakeSerialUnit>(unit);
        master->SetTrafficSink(preset);
        made = master.get();
        return master;
    });
    manager->SetTrafficSink(&log);
    ASSERT_TRUE(Search(3));
    // The master's frames reach the log named by their port.
    ASSERT_NE(made->TrafficSink(), nullptr);
    made->TrafficSink()->Frame(TTrafficFrame{});
    const auto frames = log.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().target, "COM3");
    preset = &own;
    ASSERT_TRUE(Search(4));
    EXPECT_EQ(made->TrafficSink(), &own);
    manager.reset();
}

TEST_F(LinkFixture, SearchIdsZeroAndNegative) {
    unit->inputs[4] = 0;
    auto result = Search(3);
    EXPECT_EQ(result->id, 0);
    EXPECT_TRUE(result->found);
    unit->inputs[4] = 0xFFFF;
    result = Search(3);
    EXPECT_EQ(result->id, -1);
    EXPECT_TRUE(result->found);
    EXPECT_EQ(factoryCalls, 1) << "the second search reuses the port's worker";
}

TEST_F(LinkFixture, SearchWithoutAnswerTriesTwiceAndReportsNotFound) {
    unit->failAll = true;
    const auto result = Search(2);
    EXPECT_EQ(result->id, -1);
    EXPECT_FALSE(result->found);
    // Two attempts, each repeated once by the master's retry count.
    EXPECT_EQ(unit->requests.size(), 4u);
}

TEST_F(LinkFixture, OnlyOneSearchAtATimeAndAWithdrawnResultIsNeverDelivered) {
    unit->delayMs = 300;
    bool called = false;
    manager->SearchForDevice(1, 1, [&](TSerialThread*, int32_t, bool) { called = true; });
    try {
        manager->SearchForDevice(1, 1, [](TSerialThread*, int32_t, bool) {});
        FAIL() << "a second search was accepted";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Can only search for 1 device at a time on any comm port.");
    }
    manager->WithdrawSearch(1);
    TSerialThread* worker = manager->FindThread(1);
    EXPECT_TRUE(WaitFor([&] { return !worker->SearchPending(); }));
    EXPECT_FALSE(called);
}

TEST_F(LinkFixture, OpenFailuresRaiseTheirTextsAndLeaveNoWorker) {
    unit->openResult = FTALK_OPEN_ERR;
    try {
        manager->SearchForDevice(4, 1, [](TSerialThread*, int32_t, bool) {});
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Port or socket open error");
    }
    unit->openResult = FTALK_ILLEGAL_ARGUMENT_ERROR;
    try {
        manager->SearchForDevice(4, 1, [](TSerialThread*, int32_t, bool) {});
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Configuration setting not supported!");
    }
    // No permission: the message names the device and says how to get it.
    unit->openResult = FTALK_PORT_NO_ACCESS;
    try {
        manager->SearchForDevice(4, 1, [](TSerialThread*, int32_t, bool) {});
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "No permission to access serial or TCP port /dev/ttyS3.\nAdd the user to the "
                               "'dialout' group (sudo adduser $USER dialout), then log out and in again.");
    }
    EXPECT_FALSE(manager->HasThreadOnPort(4));
    try {
        manager->FindThread(4);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Could not find serial thread with comm port '4'");
    }
}

TEST_F(LinkFixture, ReadRunFillsTheImageAndEveryGroupTakesItsValues) {
    unit->registers[10] = 250;
    unit->registers[11] = 7;
    unit->registers[301] = static_cast<uint16_t>(-42);
    unit->coils[3] = 0;
    ASSERT_TRUE(Search(3)->found);
    TDevice* device = ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
    EXPECT_EQ(beginReads, 1);
    EXPECT_FALSE(store.HasFailed());
    manager->SelectFirstGroup();
    TSettings* tree = device->Settings.get();
    EXPECT_EQ(tree->FindSetting("Speed")->Value, 250);
    EXPECT_EQ(tree->FindSetting("Limit")->Value, 7);
    EXPECT_EQ(tree->FindSetting("Far")->Value, -42);
    EXPECT_EQ(tree->FindSetting("Enable")->Value, 0);
    ASSERT_FALSE(Reports().empty());
    EXPECT_EQ(Reports().front(), "Reading Coils 3 to 3\n");
}

TEST_F(LinkFixture, WriteRunSendsTheImageThenCommits) {
    ASSERT_TRUE(Search(3)->found);
    ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
    store.SetHoldingRegister(10, 99);
    store.SetCoil(3, true);
    unit->requests.clear();
    {
        std::lock_guard<std::mutex> guard(reportsLock);
        reports.clear();
    }
    store.StartWrite();
    // The run's last report, made after the commit, ends it; the state turns idle just before.
    ASSERT_TRUE(
        WaitFor([&] { return store.State() == ssIdle && !Reports().empty() && Reports().back().empty(); }));
    EXPECT_FALSE(store.HasFailed());
    EXPECT_EQ(unit->registers[10], 99);
    EXPECT_EQ(unit->coils[3], 1);
    ASSERT_FALSE(unit->requests.empty());
    EXPECT_EQ(unit->requests.back().address, 9999);
    EXPECT_EQ(unit->requests.back().countOrValue, 123);
}

TEST_F(LinkFixture, ReadFailureAtABlockIsReportedAndNothingLater) {
    ASSERT_TRUE(Search(3)->found);
    unit->failRequest = static_cast<int32_t>(unit->requests.size()) + 2; // coil 3, registers 10-11, then 301
    unit->failCode = FTALK_MBUS_ILLEGAL_ADDRESS_RESPONSE;
    ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return store.HasFailed(); }));
    ASSERT_TRUE(WaitFor([&] { return !Reports().empty() && Reports().back()[0] == '!'; }));
    EXPECT_EQ(Reports().back(), "!Reading Holding Registers 301 to 301Failed");
    EXPECT_FALSE(store.IsComplete());
}

TEST_F(LinkFixture, WorkersOnOtherPortsNeverCarryARun) {
    unit->failAll = true;
    EXPECT_FALSE(Search(5)->found); // leaves a worker on port 5
    unit->failAll = false;
    ASSERT_TRUE(Search(3)->found);
    ConnectOnline(0, 3);
    EXPECT_FALSE(manager->HasThreadOnPort(5)) << "the idle worker goes once a device is connected elsewhere";
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
}

TEST_F(LinkFixture, DisconnectKeepsThePortUntilItsLastDevice) {
    ASSERT_TRUE(Search(3)->found);
    TDevice* a = ConnectOnline(0, 3);
    TDevice* b = devices.DeviceByIndex(1);
    b->CommPort = 3;
    b->Online = true;
    manager->ConnectDevice(b);
    EXPECT_EQ(factoryCalls, 1);
    manager->DisconnectDevice(a);
    EXPECT_TRUE(manager->HasThreadOnPort(3));
    manager->DisconnectDevice(b);
    EXPECT_FALSE(manager->HasThreadOnPort(3));
    EXPECT_EQ(store.State(), ssCollecting) << "the last online device resets the store";
}

TEST_F(LinkFixture, ReopenPortClosesAndOpensTheMaster) {
    ASSERT_TRUE(Search(3)->found);
    ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
    std::atomic<int> reopened{-1};
    manager->OnReport = [&](const TWorkerReport& report) {
        if (const auto* result = std::get_if<TReopenedReport>(&report.Value))
            reopened = result->Reopened ? 1 : 0;
    };
    manager->SetReopenPolicy(1, std::chrono::milliseconds(1));
    unit->failAll = true;
    const int opens = unit->opens;
    store.StartWrite();
    ASSERT_TRUE(WaitFor([&] { return reopened >= 0; }));
    EXPECT_EQ(reopened, 1);
    EXPECT_EQ(unit->opens - opens, 1);
    EXPECT_FALSE(unit->closed);
}

TEST_F(LinkFixture, DestroyingTheManagerStopsRunningWorkers) {
    ASSERT_TRUE(Search(1)->found);
    ASSERT_TRUE(Search(2)->found);
    ConnectOnline(0, 2);
    // The write starts once the worker has registered the settings and read them.
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
    store.StartWrite();
    manager.reset();
    SUCCEED() << "destroyed without hanging";
    EXPECT_TRUE(unit->closed);
}

TEST_F(LinkFixture, AStopAskedForAgainWhileItWaitsIsFinishedOnce) {
    ASSERT_TRUE(Search(3)->found);
    // Every exchange now takes 500 ms: once the read has begun, the disconnect below waits for
    // the exchange under way.
    unit->delayMs = 500;
    TDevice* device = ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return beginReads > 0; }));
    // What the wait serves (here a timer) disconnects the same device again.
    bool nested = false;
    QTimer::singleShot(20, [&] {
        manager->DisconnectDevice(device);
        nested = true;
    });
    manager->DisconnectDevice(device);
    EXPECT_TRUE(nested) << "the second disconnect did not come while the first one waited";
    EXPECT_FALSE(manager->HasThreadOnPort(3));
    EXPECT_TRUE(unit->closed);
}

namespace {

// Runs `probe` on a thread of its own; Done() tells whether it has returned.
class TProbe {
public:
    explicit TProbe(std::function<void()> probe)
        : FThread([this, probe = std::move(probe)] {
              probe();
              FDone = true;
          }) {}
    ~TProbe() { FThread.join(); }
    bool Done() const { return FDone; }

private:
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

} // namespace

TEST_F(LinkFixture, TheDeviceListLockGuardsTheSettingsButNeverAnExchangeOnTheWire) {
    // The user-interface thread's settings guard is the workers' lock.
    {
        std::optional<TProbe> probe;
        {
            TStoreLock guard(store.Lock());
            probe.emplace([this] { manager->DeviceList()->IsEmpty(); });
            EXPECT_FALSE(WaitFor([&] { return probe->Done(); }, 200)) << "the settings guard locks nothing";
        }
        EXPECT_TRUE(WaitFor([&] { return probe->Done(); }));
    }
    // A read run whose request hangs on the wire leaves the lock free meanwhile.
    ASSERT_TRUE(Search(3)->found);
    unit->holdRequests = true;
    ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return unit->waiting > 0; }));
    {
        TProbe probe([this] { manager->DeviceList()->IsEmpty(); });
        EXPECT_TRUE(WaitFor([&] { return probe.Done(); }, 2000)) << "the lock is held across the exchange";
        unit->holdRequests = false;
    }
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
}

TEST_F(LinkFixture, AFailedWriteReopensThePortOnTheWorkerWithTheLockFree) {
    ASSERT_TRUE(Search(3)->found);
    ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
    std::atomic<int> reopened{-1};
    manager->OnReport = [&](const TWorkerReport& report) {
        if (const auto* result = std::get_if<TReopenedReport>(&report.Value))
            reopened = result->Reopened ? 1 : 0;
    };
    unit->failAll = true;
    unit->holdOpens = true;
    const int opensBefore = unit->opens;
    store.StartWrite();
    ASSERT_TRUE(WaitFor([&] { return unit->opens > opensBefore && unit->waiting > 0; }))
        << "the link never tried to reopen the port";
    {
        TProbe probe([this] { manager->DeviceList()->IsEmpty(); });
        EXPECT_TRUE(WaitFor([&] { return probe.Done(); }, 2000)) << "the reopen runs under the lock";
        unit->failAll = false;
        unit->holdOpens = false;
    }
    ASSERT_TRUE(WaitFor([&] { return reopened >= 0; }));
    EXPECT_EQ(reopened, 1);
    EXPECT_TRUE(store.HasFailed());
}

TEST_F(LinkFixture, ReopenAttemptsArePacedAndEndWhenTheWorkerIsStopped) {
    ASSERT_TRUE(Search(3)->found);
    TDevice* device = ConnectOnline(0, 3);
    ASSERT_TRUE(WaitFor([&] { return store.IsComplete(); }));
    std::atomic<int> reopened{-1};
    manager->OnReport = [&](const TWorkerReport& report) {
        if (const auto* result = std::get_if<TReopenedReport>(&report.Value))
            reopened = result->Reopened ? 1 : 0;
    };
    manager->SetReopenPolicy(3, std::chrono::milliseconds(1));
    unit->failAll = true;
    unit->openResult = FTALK_OPEN_ERR;
    int opens = unit->opens;
    store.StartWrite();
    ASSERT_TRUE(WaitFor([&] { return reopened >= 0; }));
    EXPECT_EQ(reopened, 0);
    EXPECT_EQ(unit->opens - opens, 3);
    // The first reopen that succeeds ends the attempts.
    reopened = -1;
    opens = unit->opens;
    unit->openResult = 0;
    store.StartWrite();
    ASSERT_TRUE(WaitFor([&] { return reopened >= 0; }));
    EXPECT_EQ(reopened, 1);
    EXPECT_EQ(unit->opens - opens, 1);

    // A write that fails for good: the worker waits out its pauses, and a disconnect meanwhile
    // ends them rather than waiting through three seconds of attempts.
    manager->SetReopenPolicy(TSerialManager::ReopenAttempts, TSerialManager::ReopenPause);
    unit->openResult = FTALK_OPEN_ERR;
    opens = unit->opens;
    store.StartWrite();
    ASSERT_TRUE(WaitFor([&] { return unit->opens > opens; }));
    manager->DisconnectDevice(device);
    EXPECT_FALSE(manager->HasThreadOnPort(3));
    EXPECT_LT(unit->opens - opens, TSerialManager::ReopenAttempts);
}

TEST_F(LinkFixture, AHandOverWhoseRoutineRaisesLeavesTheWorkerFreeToStop) {
    bool raised = false;
    manager->SearchForDevice(3, 1, [&](TSerialThread*, int32_t, bool) {
        raised = true;
        throw std::runtime_error("the requester failed");
    });
    EXPECT_TRUE(WaitFor([&] {
        try {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        } catch (const std::exception&) {
        }
        return raised;
    }));
    // The port searches again, and the worker still stops.
    EXPECT_TRUE(Search(3)->found);
    manager.reset();
    SUCCEED() << "stopped";
}
