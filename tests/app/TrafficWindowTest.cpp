// The traffic log window against the simulated unit on "Comm 3": the search's and the read's
// frames fill the table; Clear, Pause and Save As act on what the serial manager's log keeps.
#include "WindowRig.h"

#include "app/Fm_traffic.h"
#include "app/Traffictable.h"
#include "base/Csv.h"
#include "link/Trafficlog.h"
#include "settings/Device.h"
#include "settings/Setting_int.h"
#include "sim/SimProcess.h"

#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>

constexpr int RunTimeoutMs = 60000;

TEST(TrafficWindow, ShowsTheUnitsFramesAndClearsPausesAndSavesThem) {
    ClearRememberedChoices();
    TSimProcess sim({"--device-id", "17"});
    ASSERT_FALSE(sim.Port().empty()) << sim.Errors();
    QSettings("Roduzede", "Dezadizi Config Manager")
        .setValue("Ports/COM3", QString::fromStdString(sim.Port()));
    TWindowRig rig;
    TfmMain& w = rig.w();
    rig.ClickOptionsItem(w.tbTrafficLog);
    auto* traffic = w.findChild<TfmTraffic*>("fmTraffic");
    ASSERT_NE(traffic, nullptr);
    EXPECT_TRUE(traffic->isVisible() && !traffic->isModal());

    TConnectRunnerScope scope([](TfmConnect& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
        dialog.cbCommPort->setCurrentIndex(2);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return !dialog.isVisible(); }, RunTimeoutMs);
        return dialog.result();
    });
    QTest::mouseClick(w.btConnectNew, Qt::LeftButton);
    ASSERT_NE(rig.Current(), nullptr) << rig.messages.Last();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.btWriteSettingsNew->isEnabled(); }, RunTimeoutMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.ReadCompleteTimer.isActive(); }, 1000));
    // The search asks the unit for its device type in its input registers.
    const auto searchShown = [model = traffic->Model] {
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, 7).data() == "Read Input Registers" && // Function
                model->index(row, 1).data() == "COM3")                   // Port
                return true;
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(searchShown, 5000));

    TTempDir dir;
    TFileDialogScope files;
    files.answers = {QString::fromStdString(dir.Path("trace.csv"))};
    QTest::mouseClick(traffic->btSaveAs, Qt::LeftButton);
    const auto rows = ParseCsv(ReadFileText(dir.Path("trace.csv")));
    ASSERT_GT(rows.size(), 2U);
    EXPECT_EQ(rows[1][1], "COM3"); // target
    EXPECT_EQ(rows[1][8], "Read Input Registers");

    QTest::mouseClick(traffic->btClear, Qt::LeftButton);
    EXPECT_EQ(traffic->Model->rowCount(), 0);
    QTest::mouseClick(traffic->btPause, Qt::LeftButton);
    ASSERT_TRUE(traffic->btPause->isChecked());
    // A write while paused goes over the line, and none of it is kept.
    rig.Activate();
    rig.Type(EditBoxOf(*dynamic_cast<TSettingInt*>(rig.Find("Supply Fan Maximum Speed"))), "100",
             TWindowRig::TLeave::ClickPage);
    QTest::mouseClick(w.btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.messages.messages.empty(); }, RunTimeoutMs));
    EXPECT_EQ(rig.messages.Last().rfind("Settings written and verified", 0), 0U) << rig.messages.Last();
    EXPECT_TRUE(w.FTrafficLog->Frames().empty());
    traffic->Model->Update();
    EXPECT_EQ(traffic->Model->rowCount(), 0);
}
