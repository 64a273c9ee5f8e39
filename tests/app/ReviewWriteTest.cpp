// Against the simulated unit: the review that "Write Settings" shows before it sends, and the
// question when the engineer leaves a unit that does not hold the changes.
#include "WindowRig.h"

#include "app/Differencetable.h"
#include "app/Settingeditors.h"
#include "link/Serialmanager.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"
#include "sim/SimProcess.h"

#include <QAction>
#include <QCheckBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <cerrno>
#include <gtest/gtest.h>
#include <modbus/modbus.h>

namespace {

constexpr int RunTimeoutMs = 60000;

class ReviewWrite : public ::testing::Test {
protected:
    virtual QStringList SimOptions() const { return {}; }
    void SetUp() override {
        ClearRememberedChoices();
        sim = std::make_unique<TSimProcess>(QStringList{"--device-id", "17", "--verbose"} + SimOptions());
        ASSERT_FALSE(sim->Port().empty()) << sim->Errors();
        QSettings("Roduzede", "Dezadizi Config Manager")
            .setValue("Ports/COM3", QString::fromStdString(sim->Port()));
        rig = std::make_unique<TWindowRig>();
        TConnectRunnerScope scope([](TfmConnect& dialog) {
            dialog.show();
            QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
            dialog.cbCommPort->setCurrentIndex(2); // "Comm 3"
            QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
            (void)QTest::qWaitFor([&] { return !dialog.isVisible(); }, 20000);
            return dialog.result();
        });
        QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);
        rig->Activate();
        ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return rig->w().btWriteSettingsNew->isEnabled(); }, RunTimeoutMs));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !rig->w().ReadCompleteTimer.isActive(); }, 1000));
        QCoreApplication::processEvents();
        steps = dynamic_cast<TSettingInt*>(rig->Find("Fan Speed Steps"));
        damper = dynamic_cast<TSettingDropDown*>(rig->Find("Damper Actuator"));
        ASSERT_TRUE(steps != nullptr && damper != nullptr && EditBoxOf(*steps) && DropDownOf(*damper));
        // Two settings sharing one register, each in its own bits.
        ASSERT_EQ(steps->Register, damper->Register);
        rig->messages.Clear();
        unitSteps = steps->Value;
        unitStepsShown = EditBoxOf(*steps)->text().toStdString();
    }
    void TearDown() override {
        rig.reset();
        sim.reset();
        ClearRememberedChoices();
    }

    // Changes both settings of the shared register: the steps to 5, the damper to "Floating Point".
    void EditBoth() {
        rig->Type(EditBoxOf(*steps), "5", TWindowRig::TLeave::ClickPage);
        rig->Choose(DropDownOf(*damper), 2);
        // Focus on the group button: no editor is left to check its text when the page goes.
        QTest::mouseClick(rig->w().sbMainArea->widget(), Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_EQ(rig->Current()->Settings->MarkedCount(), 2u);
    }
    // Returns once the unit has logged every frame sent before: it answers a read of the test's
    // own, and it takes the line's frames in order. Only while no worker holds the line.
    void SettleTheLine() {
        modbus_t* ctx = modbus_new_rtu(sim->Port().c_str(), 9600, 'N', 8, 1);
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        modbus_set_slave(ctx, 1);
        uint16_t value = 0;
        EXPECT_EQ(modbus_read_registers(ctx, 100, 1, &value), 1) << modbus_strerror(errno);
        modbus_close(ctx);
        modbus_free(ctx);
    }
    // Write requests the unit has seen, the commit included.
    int Writes() const { return sim->CountLines("request 01 05") + sim->CountLines("request 01 06"); }
    bool WaitForMessage() {
        return QTest::qWaitFor([this] { return !rig->messages.messages.empty(); }, RunTimeoutMs);
    }
    // The message of a write that the unit holds, whatever its count.
    static bool Verified(const std::string& text) {
        return text.rfind("Settings written and verified (", 0) == 0;
    }
    int16_t Bits(const TSetting* setting) const {
        return rig->w().Store()->GetHoldingRegisterBits(setting->Register, setting->BitMask);
    }
    static std::vector<std::string> Row(const TDifferenceTable& table, int row) {
        std::vector<std::string> texts;
        for (int column = 0; column < 4; ++column)
            texts.push_back(table.item(row, column)->text().toStdString());
        return texts;
    }

    std::unique_ptr<TSimProcess> sim;
    std::unique_ptr<TWindowRig> rig;
    TSettingInt* steps = nullptr;
    TSettingDropDown* damper = nullptr;
    // Fan Speed Steps as the unit holds it.
    int32_t unitSteps = 0;
    std::string unitStepsShown;
};

// A unit that saves what it is sent but never answers the save command.
class ReviewWriteUnanswered : public ReviewWrite {
protected:
    QStringList SimOptions() const override { return {"--silent-commit"}; }
};

} // namespace

TEST_F(ReviewWrite, AnUntickedRowIsPutBackToTheUnitsValueAndNotSent) {
    EditBoth();
    std::vector<std::vector<std::string>> rows;
    rig->review = [&rows](TfmReview& dialog) {
        for (int row = 0; row < dialog.Table->rowCount(); ++row) {
            rows.push_back(Row(*dialog.Table, row));
            if (rows.back()[1] == "Fan Speed Steps")
                dialog.Table->item(row, 0)->setCheckState(Qt::Unchecked);
        }
        dialog.show();
        QTest::mouseClick(dialog.btWrite, Qt::LeftButton);
        return dialog.result();
    };
    const int before = Writes();
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    // Put back before the write: no longer a change the unit lacks.
    EXPECT_FALSE(steps->Marked);
    EXPECT_TRUE(damper->Marked);
    ASSERT_TRUE(WaitForMessage());
    ASSERT_EQ(rig->messages.messages.size(), 1u);
    EXPECT_TRUE(Verified(rig->messages.Last())) << ::testing::PrintToString(rig->messages.Texts());
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                        {"Unit Settings", "Fan Speed Steps", std::to_string(unitSteps) + " steps", "5 steps"},
                        {"Unit Settings", "Damper Actuator", "0-10 V Modulating", "Floating Point"}}));
    // The shared register once, then the commit; its steps bits are the unit's again.
    EXPECT_EQ(Writes() - before, 2) << sim->Output();
    EXPECT_EQ(Bits(steps), unitSteps);
    EXPECT_EQ(Bits(damper), 2);
    EXPECT_EQ(steps->Value, unitSteps);
    EXPECT_EQ(EditBoxOf(*steps)->text().toStdString(), unitStepsShown);
    EXPECT_EQ(DropDownOf(*damper)->currentText(), "Floating Point");
    EXPECT_EQ(rig->Current()->Settings->MarkedCount(), 0u);
}

TEST_F(ReviewWrite, CancelSendsNothingAndDontAskAgainLastsUntilTheOptionsItem) {
    EditBoth();
    rig->review = [](TfmReview& dialog) {
        dialog.show();
        dialog.cbDontAsk->setChecked(true);
        QTest::mouseClick(dialog.btCancel, Qt::LeftButton);
        return dialog.result();
    };
    const int before = Writes();
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    // A write starts on the click itself, or not at all.
    EXPECT_EQ(rig->w().Store()->State(), ssIdle);
    EXPECT_EQ(rig->reviewsShown, 1);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(Writes(), before);
    EXPECT_EQ(Bits(steps), 5) << "the edits stay";
    EXPECT_EQ(Bits(damper), 2);
    EXPECT_EQ(rig->Current()->Settings->MarkedCount(), 2u);

    // Write with "Don't ask again": the next write goes without the review.
    rig->review = [](TfmReview& dialog) {
        dialog.show();
        dialog.cbDontAsk->setChecked(true);
        QTest::mouseClick(dialog.btWrite, Qt::LeftButton);
        return dialog.result();
    };
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(WaitForMessage());
    EXPECT_EQ(rig->reviewsShown, 2);
    rig->messages.Clear();
    // The message box took the activation; the offscreen platform does not hand it back.
    rig->Activate();
    rig->Type(EditBoxOf(*steps), "6", TWindowRig::TLeave::ClickPage);
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(WaitForMessage());
    EXPECT_TRUE(Verified(rig->messages.Last())) << ::testing::PrintToString(rig->messages.Texts());
    EXPECT_EQ(rig->reviewsShown, 2);

    // Remembered in the user settings; the Options item brings the review back.
    EXPECT_FALSE(
        QSettings("Roduzede", "Dezadizi Config Manager").value("ReviewChangesBeforeWriting").toBool());
    rig->ClickOptionsItem(rig->w().tbReviewWrites);
    EXPECT_TRUE(rig->w().tbReviewWrites->isChecked());
    rig->messages.Clear();
    rig->review = [](TfmReview& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.btCancel, Qt::LeftButton);
        return dialog.result();
    };
    rig->Activate();
    rig->Type(EditBoxOf(*steps), "7", TWindowRig::TLeave::ClickPage);
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    EXPECT_EQ(rig->reviewsShown, 3);
}

TEST_F(ReviewWrite, LeavingAsksToWriteFirstCancelStaysNoLeavesUnwritten) {
    EditBoth();
    const int before = Writes();
    rig->messages.answers = {TAnswer::Cancel};
    rig->w().close();
    EXPECT_TRUE(rig->w().isVisible());
    EXPECT_EQ(
        rig->messages.Texts(),
        std::vector<std::string>{"The unit does not hold 2 changed settings. Write them before leaving?"});
    EXPECT_NE(rig->Current(), nullptr);

    rig->messages.answers = {TAnswer::No};
    rig->w().close();
    EXPECT_FALSE(rig->w().isVisible());
    ASSERT_FALSE(rig->w().FSerialManager->HasThreadOnPort(3)) << "the unit was let go of";
    SettleTheLine();
    EXPECT_EQ(Writes(), before) << sim->Output();
    EXPECT_EQ(rig->reviewsShown, 0);
}

TEST_F(ReviewWrite, YesWritesAndLeavesOnceTheWriteHasEndedWell) {
    EditBoth();
    rig->messages.answers = {TAnswer::Yes};
    rig->w().close();
    // Still here while the write runs.
    EXPECT_TRUE(rig->w().isVisible());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !rig->w().isVisible(); }, RunTimeoutMs))
        << rig->messages.Last();
    ASSERT_EQ(rig->messages.messages.size(), 2u) << ::testing::PrintToString(rig->messages.Texts());
    EXPECT_EQ(rig->messages.messages[0].text,
              "The unit does not hold 2 changed settings. Write them before leaving?");
    EXPECT_TRUE(Verified(rig->messages.Last())) << ::testing::PrintToString(rig->messages.Texts());
    EXPECT_EQ(sim->CountLines("commit (123"), 1);
    EXPECT_EQ(rig->reviewsShown, 0) << "the question was the review";
}

TEST_F(ReviewWrite, ConnectAfterAnsweredYesWritesThenOpensTheConnectDialogUnasked) {
    rig->Type(EditBoxOf(*steps), "5", TWindowRig::TLeave::ClickPage);
    int dialogs = 0;
    TConnectRunnerScope cancel([&dialogs](TfmConnect&) {
        ++dialogs;
        return static_cast<int>(mrCancel);
    });
    rig->messages.answers = {TAnswer::Yes};
    QTest::mouseClick(rig->w().btConnectNew, Qt::LeftButton);
    EXPECT_EQ(dialogs, 0);
    ASSERT_TRUE(QTest::qWaitFor([&dialogs] { return dialogs == 1; }, RunTimeoutMs)) << rig->messages.Last();
    ASSERT_EQ(rig->messages.messages.size(), 2u) << "no question about disconnecting";
    EXPECT_EQ(rig->messages.messages[0].text,
              "The unit does not hold 1 changed setting. Write them before leaving?");
    EXPECT_TRUE(Verified(rig->messages.Last())) << ::testing::PrintToString(rig->messages.Texts());
    EXPECT_EQ(rig->Current(), nullptr);
    EXPECT_EQ(sim->CountLines("commit (123"), 1);
}

TEST_F(ReviewWriteUnanswered, UnconfirmedValuesAreListedAsSuchAndAWriteOfThemStillLeaves) {
    rig->Type(EditBoxOf(*steps), "5", TWindowRig::TLeave::ClickPage);
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    ASSERT_TRUE(WaitForMessage());
    EXPECT_EQ(rig->reviewsShown, 1);

    // Sent, but the unit never confirmed keeping the register: the next review lists both of
    // its settings, and they cannot be unticked, there being no value of the unit's to put back.
    std::vector<std::vector<std::string>> rows;
    bool checkable = false;
    rig->review = [&](TfmReview& dialog) {
        for (int row = 0; row < dialog.Table->rowCount(); ++row) {
            rows.push_back(Row(*dialog.Table, row));
            checkable = checkable || (dialog.Table->item(row, 0)->flags() & Qt::ItemIsUserCheckable) != 0;
        }
        dialog.show();
        QTest::mouseClick(dialog.btCancel, Qt::LeftButton);
        return dialog.result();
    };
    rig->Activate();
    QTest::mouseClick(rig->w().btWriteSettingsNew, Qt::LeftButton);
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                        {"Unit Settings", "Fan Speed Steps", "(not confirmed)", "5 steps"},
                        {"Unit Settings", "Damper Actuator", "(not confirmed)", "0-10 V Modulating"}}));
    EXPECT_FALSE(checkable);

    // Leaving writes them again; written without a confirmation is written: the window goes.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Yes};
    rig->w().close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !rig->w().isVisible(); }, RunTimeoutMs))
        << ::testing::PrintToString(rig->messages.Texts());
    ASSERT_EQ(rig->messages.messages.size(), 2u) << ::testing::PrintToString(rig->messages.Texts());
    EXPECT_EQ(rig->messages.messages[0].text,
              "The unit does not hold 2 changed settings. Write them before leaving?");
    EXPECT_NE(rig->messages.Last().find("did not answer the save command"), std::string::npos)
        << rig->messages.Last();
}
