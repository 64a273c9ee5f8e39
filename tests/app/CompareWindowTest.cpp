// Comparing in the window: the Options menu's comparisons, the dialog's table, its double-click
// to the setting and its export.
#include "WindowRig.h"

#include "app/Fm_compare.h"
#include "app/Grouppage.h"
#include "app/Settingeditors.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting_int.h"
#include "settings/Settings.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class CompareWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRememberedChoices();
        rig = std::make_unique<TWindowRig>();
        rig->OpenOffline(0);
        ASSERT_NE(rig->Current(), nullptr) << rig->messages.Last();
        rig->messages.Clear();
        speed = dynamic_cast<TSettingInt*>(rig->Find("Supply Fan Minimum Speed"));
        ASSERT_NE(speed, nullptr);
    }
    void TearDown() override {
        rig.reset();
        ClearRememberedChoices();
    }
    TfmCompare* Dialog() { return rig->w().findChild<TfmCompare*>("fmCompare"); }
    std::vector<std::string> Row(int row) {
        std::vector<std::string> texts;
        for (int column = 0; column < 4; ++column)
            texts.push_back(Dialog()->Table->item(row, column)->text().toStdString());
        return texts;
    }

    std::unique_ptr<TWindowRig> rig;
    TSettingInt* speed = nullptr;
};

} // namespace

TEST_F(CompareWindow, DoubleClickingARowShowsItsGroupAndFocusesItsEditor) {
    rig->Type(EditBoxOf(*speed), "35");
    rig->ClickOptionsItem(rig->w().tbCompareDefaults);
    ASSERT_NE(Dialog(), nullptr) << rig->messages.Last();
    EXPECT_EQ(Dialog()->lbCount->text(), "1 setting differs");
    ASSERT_EQ(Dialog()->Table->rowCount(), 1);
    EXPECT_EQ(Row(0),
              (std::vector<std::string>{"Unit Settings", "Supply Fan Minimum Speed", "35 %", "20 %"}));

    rig->ClickGroup(3);
    ASSERT_NE(rig->w().Pages->Shown(), speed->Group);
    QTableWidget* table = Dialog()->Table;
    const QPoint cell = table->visualItemRect(table->item(0, 1)).center();
    // An item view takes a double-click only after the press that starts it.
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
    rig->Activate();
    EXPECT_EQ(rig->w().Pages->Shown(), speed->Group);
    ASSERT_TRUE(EditBoxOf(*speed));
    EXPECT_TRUE(EditBoxOf(*speed)->hasFocus());
}

TEST_F(CompareWindow, AFileIsComparedAndTheTableExportedAsCsv) {
    TTempDir dir;
    TFileDialogScope files;
    const QString saved = QString::fromStdString(dir.Path("site.RUR"));
    const QString exported = QString::fromStdString(dir.Path("diff.csv"));
    files.answers = {saved};
    rig->ClickOptionsItem(rig->w().tbSaveSettings);
    rig->Type(EditBoxOf(*speed), "35");

    files.answers = {saved, exported};
    rig->ClickOptionsItem(rig->w().tbCompareFile);
    ASSERT_NE(Dialog(), nullptr) << rig->messages.Last();
    EXPECT_EQ(files.shown.back().Title, "Compare with File...");
    ASSERT_EQ(Dialog()->Table->rowCount(), 1);
    EXPECT_EQ(Row(0),
              (std::vector<std::string>{"Unit Settings", "Supply Fan Minimum Speed", "35 %", "20 %"}));
    EXPECT_EQ(Dialog()->Table->horizontalHeaderItem(3)->text(), "site.RUR");

    QTest::mouseClick(Dialog()->btExport, Qt::LeftButton);
    EXPECT_TRUE(rig->messages.messages.empty()) << rig->messages.Last();
    EXPECT_EQ(ReadFileText(exported.toStdString()),
              "Group,Setting,This,site.RUR\r\nUnit Settings,Supply Fan Minimum Speed,35 %,20 %\r\n");
}

TEST_F(CompareWindow, AnEditIsMarkedOnItsCaptionAndGroupUntilTheFileIsSaved) {
    TTempDir dir;
    TFileDialogScope files;
    QPushButton* button = rig->w().Pages->ButtonOf(*speed->Group);
    ASSERT_NE(button, nullptr);
    const QString caption = button->text();
    EXPECT_FALSE(button->font().bold());

    rig->Type(EditBoxOf(*speed), "35");
    ASSERT_TRUE(EditorOf(*speed) != nullptr && EditorOf(*speed)->CaptionLabel);
    EXPECT_EQ(EditorOf(*speed)->CaptionLabel->text(), "\u2022 Supply Fan Minimum Speed");
    EXPECT_TRUE(EditorOf(*speed)->CaptionLabel->font().bold());
    EXPECT_EQ(button->text(), "\u2022 " + caption);
    EXPECT_TRUE(button->font().bold());
    EXPECT_EQ(rig->Current()->Settings->MarkedCount(), 1u);

    // Back to the value the page opened with: nothing is marked.
    rig->Type(EditBoxOf(*speed), "20");
    EXPECT_EQ(EditorOf(*speed)->CaptionLabel->text(), "Supply Fan Minimum Speed");
    EXPECT_FALSE(EditorOf(*speed)->CaptionLabel->font().bold());
    EXPECT_EQ(button->text(), caption);

    // A mark survives leaving the page, and saving the settings file clears it.
    rig->Type(EditBoxOf(*speed), "35");
    rig->ClickGroup(3);
    rig->ClickGroup(0);
    ASSERT_TRUE(EditorOf(*speed) != nullptr && EditorOf(*speed)->CaptionLabel);
    EXPECT_TRUE(EditorOf(*speed)->CaptionLabel->font().bold());
    files.answers = {QString::fromStdString(dir.Path("site.RUR"))};
    rig->ClickOptionsItem(rig->w().tbSaveSettings);
    EXPECT_EQ(rig->Current()->Settings->MarkedCount(), 0u);
    EXPECT_EQ(EditorOf(*speed)->CaptionLabel->text(), "Supply Fan Minimum Speed");
    EXPECT_EQ(button->text(), caption);
}

TEST_F(CompareWindow, LeavingWithUnsavedEditsAsksToSaveThem) {
    TTempDir dir;
    TFileDialogScope files;
    rig->Type(EditBoxOf(*speed), "35");
    ASSERT_TRUE(rig->w().isVisible());

    // Cancel stays, with the edits.
    rig->messages.answers = {TAnswer::Cancel};
    QTest::mouseClick(rig->w().btExitNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Save changes to the settings?"});
    EXPECT_TRUE(rig->w().isVisible());

    // Yes saves; a file dialog left without a name saves nothing, so the window stays too.
    rig->messages.Clear();
    rig->messages.answers = {TAnswer::Yes};
    files.answers = {QString()};
    QTest::mouseClick(rig->w().btExitNew, Qt::LeftButton);
    EXPECT_TRUE(rig->w().isVisible());

    const std::string saved = dir.Path("site.RUR");
    rig->messages.answers = {TAnswer::Yes};
    files.answers = {QString::fromStdString(saved)};
    QTest::mouseClick(rig->w().btExitNew, Qt::LeftButton);
    EXPECT_FALSE(rig->w().isVisible());
    const std::string text = ReadFileText(saved);
    const size_t at = text.find(R"(name="Supply Fan Minimum Speed")");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.substr(text.find("value=", at), 10), R"(value="35")");
}

TEST_F(CompareWindow, NoLeavesWithoutSaving) {
    rig->Type(EditBoxOf(*speed), "35");
    rig->messages.answers = {TAnswer::No};
    QTest::mouseClick(rig->w().btExitNew, Qt::LeftButton);
    EXPECT_EQ(rig->messages.Texts(), std::vector<std::string>{"Save changes to the settings?"});
    EXPECT_FALSE(rig->w().isVisible());
}
