#include "app/Grouppage.h"
#include "app/Settingeditors.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_label.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "settings/SettingsTestSupport.h"
#include "support/FakeUnit.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <stdexcept>

namespace {

const char* const Page = R"(<settings>
  <group name="Unit" description="Unit settings">
    <setting value_type="drop_down" name="Units" register="1" type="holding_register" units="v">
      <ddvalue name="m/sec" value="0" default="true"/><ddvalue name="ft/min" value="1"/><ddvalue name="Pa" value="2"/></setting>
    <setting value_type="int" name="Speed" register="2" type="holding_register" min="0" max="100" default="20" value_text="%" maxsetting="Top"/>
    <setting value_type="int" name="Top" register="3" type="holding_register" min="0" max="100" default="90" value_text="%"/>
    <setting value_type="units" name="Velocity" register="4" type="holding_register" min="0" max="2000" default="250"/>
    <setting value_type="int" name="Boost" register="5" type="holding_register" min="1" max="240" default="0" value_text="min" XOffset="20" YOffset="6"/>
    <setting value_type="uint32" name="Hours" register="6" type="holding_register" min="0" max="1000000" default="8760" value_text="h"/>
    <setting value_type="drop_down" name="Mode" register="8" type="holding_register">
      <ddvalue name="Off" value="2" default="true"/><ddvalue name="On" value="5"/><ddvalue name="Eco" value="7"/></setting>
    <setting value_type="checkbox" name="Mode on" register="8" type="holding_register" default="unchecked" unchecked_value="2" checked_value="5"/>
    <setting value_type="drop_down" name="Input 1" register="9" type="holding_register" exclusiongroup="1" excludeallowed="0">
      <ddvalue name="Not used" value="0" default="true"/><ddvalue name="Fire" value="1"/><ddvalue name="Alarm" value="2"/></setting>
    <setting value_type="drop_down" name="Input 2" register="10" type="holding_register" exclusiongroup="1" excludeallowed="0">
      <ddvalue name="Not used" value="0"/><ddvalue name="Fire" value="1" default="true"/><ddvalue name="Alarm" value="2"/></setting>
    <setting value_type="name" name="Unit Name" register="20" type="holding_register" NumOfRegisters="4" default="Z7E" bold="true"/>
    <setting value_type="label" name="Firmware" register="30" type="holding_register" default="42"/>
  </group>
  <group name="Group" description="one group">
    <setting value_type="int" name="Fan" register="100" type="holding_register" offset="16" min="0" max="100" default="60" value_text="%" YOffset="9"/>
    <setting value_type="uint32" name="Count" register="101" type="holding_register" offset="16" min="0" max="9" default="0" value_text="x"/>
  </group>
</settings>)";

// A window with the groups list and the settings area, active so that focus moves.
class EditorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Window.resize(900, 700);
        List = new QScrollArea(&Window);
        List->setGeometry(0, 0, 240, 700);
        Area = new QScrollArea(&Window);
        Area->setGeometry(240, 0, 660, 700);
        Elsewhere = new QLineEdit(&Window);
        Elsewhere->setGeometry(0, 0, 10, 10);
        Pages = std::make_unique<TGroupPages>(List, Area);
        Pages->Attach(T.Tree());
        Window.show();
        QApplication::setActiveWindow(&Window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
        T.Group(0).Select();
    }
    void TearDown() override {
        Pages->Hide();
        T.Tree().ClearGroupList();
    }

    // The shown editor of a setting, which must exist; a missing one fails the test.
    template <class E = TSettingEditor> E& Editor(const TSetting& setting) {
        auto* editor = dynamic_cast<E*>(setting.View);
        if (editor == nullptr)
            throw std::runtime_error("editor does not exist");
        return *editor;
    }
    QPointer<QLineEdit>& Box(const TSetting& setting) { return Editor<TEditBoxEditor>(setting).Edit; }
    TGroupPage& ShownPage() {
        if (Pages->Page() == nullptr)
            throw std::runtime_error("no page is shown");
        return *Pages->Page();
    }
    // The control, which must exist; a missing one fails the test.
    template <class T> T* Control(QPointer<T>& control) {
        if (control.isNull())
            throw std::runtime_error("control does not exist");
        return control.data();
    }
    // Types into an edit box the way a user does: focus in, select all, type, then leave.
    void Type(QLineEdit* edit, const QString& text, bool leave = true) {
        edit->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        for (const QChar character : text) {
            // QTest has no key for a character outside ASCII; such a key press carries its text.
            if (character.unicode() < 0x80) {
                QTest::keyClick(edit, character.toLatin1());
            } else {
                QTest::sendKeyEvent(QTest::Press, edit, Qt::Key_unknown, QString(character), Qt::NoModifier);
                QTest::sendKeyEvent(QTest::Release, edit, Qt::Key_unknown, QString(character),
                                    Qt::NoModifier);
            }
        }
        if (leave)
            Elsewhere->setFocus(Qt::TabFocusReason);
    }
    // Chooses an item of a drop-down list as a user does with the keyboard.
    // A refused choice puts the old one back, so the keys are counted, not repeated until
    // the list shows the item.
    void Choose(QComboBox* combo, int index) {
        combo->setFocus(Qt::MouseFocusReason);
        const int from = combo->currentIndex();
        for (int i = from; i < index; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        for (int i = from; i > index; --i)
            QTest::keyClick(combo, Qt::Key_Up);
    }

    TTestTree T{Page};
    TMessageCapture Capture;
    QWidget Window;
    QScrollArea* List = nullptr;
    QScrollArea* Area = nullptr;
    QLineEdit* Elsewhere = nullptr;
    std::unique_ptr<TGroupPages> Pages;
};

} // namespace

TEST_F(EditorsTest, PageGeometryAndRebuild) {
    TGroup& group = T.Group(0);
    EXPECT_EQ(Pages->Shown(), &group);
    QLabel* title = Control(ShownPage().TitleLabel);
    EXPECT_EQ(title->pos(), QPoint(27, 28));
    EXPECT_EQ(title->text(), "Unit");
    EXPECT_TRUE(title->font().bold());
    EXPECT_EQ(title->font().pointSize(), 15);
    EXPECT_EQ(title->font().family(), "Arial");
    EXPECT_EQ(Control(ShownPage().DescriptionLabel)->pos(), QPoint(50, 70));
    EXPECT_EQ(Control(ShownPage().DescriptionLabel)->text(), "Unit settings");
    // Twelve rows of 32 pixels, plus the 6 pixels of the one shifted integer setting.
    EXPECT_EQ(Control(ShownPage().TrailerLabel)->pos(), QPoint(50, 120 + 12 * 32 + 6));
    EXPECT_GE(Area->widget()->height(), 120 + 12 * 32 + 6);

    auto& speed = T.As<TSettingInt>("Speed");
    EXPECT_EQ(Control(Editor(speed).CaptionLabel)->pos(), QPoint(40, 120 + 32));
    EXPECT_EQ(Control(Box(speed))->geometry().topLeft(), QPoint(200, 152));
    EXPECT_EQ(Control(Box(speed))->width(), 140);
    EXPECT_EQ(Control(Box(speed))->text(), "20 %");
    auto& boost = T.As<TSettingInt>("Boost");
    EXPECT_EQ(Control(Editor(boost).CaptionLabel)->pos(), QPoint(60, 120 + 4 * 32 + 6));
    EXPECT_EQ(Control(Box(boost))->pos(), QPoint(220, 120 + 4 * 32 + 6));
    EXPECT_EQ(Control(Box(T.As<TSettingUint32>("Hours")))->pos(), QPoint(200, 120 + 5 * 32 + 6));
    EXPECT_EQ(Control(Box(T.As<TSettingUint32>("Hours")))->width(), 200);
    EXPECT_TRUE(Control(Editor(T.As<TSettingName>("Unit Name")).CaptionLabel)->font().bold());
    EXPECT_FALSE(Control(Editor(speed).CaptionLabel)->font().bold());
    EXPECT_EQ(Control(Editor<TLabelEditor>(T.As<TSettingLabel>("Firmware")).ValueLabel)->text(), "42 m/sec");
    // Ordinary settings have no copy buttons.
    EXPECT_TRUE(Editor(speed).CopyToAllGroupsButton.isNull());

    // Selecting the shown group again builds a new page; the old controls are gone.
    QPointer<QLineEdit> old = Box(speed);
    group.Select();
    EXPECT_TRUE(old.isNull());
    EXPECT_FALSE(Box(speed).isNull());
    // Another group takes the area; this page's controls are freed.
    QPointer<QLineEdit> shown = Box(speed);
    QPointer<QLabel> shownTitle = ShownPage().TitleLabel;
    T.Group(1).Select();
    EXPECT_TRUE(shown.isNull());
    EXPECT_EQ(EditBoxOf(speed), nullptr);
    EXPECT_TRUE(shownTitle.isNull());
}

TEST_F(EditorsTest, TemplatePageHeadingsAndCopyButtons) {
    T.Group(1).Select();
    TGroup& templ = T.Group(1);
    auto& heading = dynamic_cast<TSettingSectionLabel&>(*templ.Settings[0]);
    QLabel* label = Control(Editor<TSectionLabelEditor>(heading).HeadingLabel);
    EXPECT_EQ(label->pos(), QPoint(200, 120));
    EXPECT_EQ(label->text(), "Template Group");
    EXPECT_EQ(label->font().family(), "Arial");
    EXPECT_TRUE(label->font().bold());
    EXPECT_TRUE(Editor(heading).CaptionLabel.isNull());
    // Template groups add no YOffset to their rows, and do not shift their integer editors.
    auto& fan = dynamic_cast<TSettingInt&>(*templ.Settings[1]);
    EXPECT_EQ(Control(Box(fan))->pos(), QPoint(200, 152));
    EXPECT_EQ(Control(ShownPage().TrailerLabel)->y(), 120 + 3 * 32);
    QPushButton* all = Control(Editor(fan).CopyToAllGroupsButton);
    QPushButton* controllers = Control(Editor(fan).CopyToAllControllersButton);
    EXPECT_EQ(all->text(), "Copy to all groups");
    EXPECT_EQ(all->geometry().topLeft(), QPoint(350, 152));
    EXPECT_EQ(all->width(), 100);
    EXPECT_EQ(controllers->text(), "Copy to all ZA9s");
    EXPECT_EQ(controllers->x(), 455);
    // 32-bit settings have no copy buttons, even in a template group.
    EXPECT_TRUE(Editor(dynamic_cast<TSetting&>(*templ.Settings[2])).CopyToAllGroupsButton.isNull());

    Type(Box(fan), "33");
    EXPECT_EQ(fan.Value, 33);
    QTest::mouseClick(all, Qt::LeftButton);
    EXPECT_EQ(T.Entry(2, 1).Value, 33);
    EXPECT_EQ(T.Entry(6, 28).Value, 33);
    EXPECT_EQ(T.Entry(8, 1).Value, 60); // controller 2 untouched
    EXPECT_EQ(T.Register(100 + 16 * 49), 33);
    QTest::mouseClick(controllers, Qt::LeftButton);
    EXPECT_EQ(T.Entry(24, 28).Value, 33);
    EXPECT_TRUE(Capture.messages.empty());

    // A ten-copy group page: ten headings, 10 x 3 rows plus its integer settings' offsets.
    T.Group(2).Select();
    EXPECT_EQ(Control(ShownPage().TrailerLabel)->y(), 120 + 30 * 32 + 10 * 9);
    EXPECT_EQ(
        Control(Editor<TSectionLabelEditor>(dynamic_cast<TSettingSectionLabel&>(T.Entry(2, 27))).HeadingLabel)
            ->text(),
        "Group 10");
}

TEST_F(EditorsTest, GroupButtonsAndFirstList) {
    // The window's pages as a run starts.
    Pages = std::make_unique<TGroupPages>(List, Area);
    EXPECT_EQ(Pages->Shown(), nullptr);
    Pages->BuildGroupList(T.Tree());
    EXPECT_EQ(Pages->Shown(), &T.Group(0)); // the run's first list shows its first group
    QPointer<QPushButton> firstButton = Pages->ButtonOf(T.Group(0));
    QPushButton* first = Control(firstButton);
    QPointer<QPushButton> lastButton = Pages->ButtonOf(T.Group(24));
    QPushButton* last = Control(lastButton);
    EXPECT_EQ(first->geometry(), QRect(13, 16, 200, 32));
    EXPECT_EQ(last->geometry(), QRect(13, 16 + 40 * 24, 200, 32));
    EXPECT_EQ(last->property("tag").toInt(), 24);
    EXPECT_GE(List->widget()->height(), 16 + 40 * 24 + 32);
    const QFontMetrics metrics(QFont("MS Sans Serif", 8));
    const QString padded = first->text();
    EXPECT_TRUE(padded.startsWith("Unit "));
    EXPECT_GE(metrics.horizontalAdvance(padded), 140);
    EXPECT_LT(metrics.horizontalAdvance(padded.left(padded.size() - 1)), 140);
    const std::string wide(60, 'W');
    T.Group(0).Name = wide;
    EXPECT_EQ(PaddedCaption(T.Group(0).Name), wide);

    QTest::mouseClick(last, Qt::LeftButton);
    EXPECT_EQ(Pages->Shown(), &T.Group(24));
    Pages->FocusButton();
    EXPECT_TRUE(last->hasFocus());

    // A later list selects nothing.
    T.Tree().ClearGroupList();
    EXPECT_TRUE(firstButton.isNull());
    EXPECT_EQ(Pages->ButtonOf(T.Group(0)), nullptr);
    Pages->BuildGroupList(T.Tree());
    EXPECT_EQ(Pages->Shown(), &T.Group(24));
}

TEST_F(EditorsTest, IntegerEditorValidatesAndKeepsTheFocus) {
    auto& speed = T.As<TSettingInt>("Speed");
    QLineEdit* edit = Control(Box(speed));
    edit->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(edit->text(), "20");
    EXPECT_EQ(edit->selectedText(), "20");

    Type(edit, "101");
    EXPECT_EQ(Capture.Last(), "The maximum value this setting can be is '100'");
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(edit->text(), "101");
    EXPECT_EQ(speed.Value, 20);
    Type(edit, "abc");
    EXPECT_EQ(Capture.Last(), "'abc' is not a valid integer value");
    EXPECT_TRUE(edit->hasFocus());
    // Above the Top setting: refused by the limit check, the box shows the value again.
    Type(edit, "95");
    EXPECT_EQ(Capture.Last(), "Setting 'Speed' must be less than setting 'Top'");
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_EQ(speed.Value, 20);
    EXPECT_EQ(edit->text(), "20 %");
    Capture.Clear();
    Type(edit, "$32");
    EXPECT_TRUE(Capture.messages.empty());
    EXPECT_EQ(speed.Value, 50);
    EXPECT_EQ(T.Register(2), 50);
    EXPECT_EQ(edit->text(), "50 %");

    // Enter checks without taking the value.
    Type(edit, "-1", false);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(Capture.Last(), "The minimum value this setting can be is '0'");
    EXPECT_EQ(speed.Value, 50);
    EXPECT_EQ(Capture.messages.size(), 1u);
    Elsewhere->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Capture.messages.size(), 2u);
    EXPECT_TRUE(edit->hasFocus());
    Type(edit, "7");
    EXPECT_EQ(speed.Value, 7);
}

TEST_F(EditorsTest, DisabledValueShowsADash) {
    auto& boost = T.As<TSettingInt>("Boost");
    QLineEdit* edit = Control(Box(boost));
    EXPECT_EQ(boost.Value, 0);
    EXPECT_EQ(edit->text(), "-"); // 0 is min - 1
    // Entering and leaving without typing: 0 is below the minimum, so the focus stays.
    edit->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(edit->text(), "0");
    Elsewhere->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Capture.Last(), "The minimum value this setting can be is '1'");
    EXPECT_TRUE(edit->hasFocus());
    Type(edit, "15");
    EXPECT_EQ(edit->text(), "15 min");
    EXPECT_EQ(T.Register(5), 15);
}

TEST_F(EditorsTest, Uint32AndTextEditors) {
    auto& hours = T.As<TSettingUint32>("Hours");
    QLineEdit* edit = Control(Box(hours));
    EXPECT_EQ(edit->text(), "8760 h");
    Type(edit, "1000001");
    EXPECT_EQ(Capture.Last(), "The maximum value this setting can be is '1000000'");
    Type(edit, "100000");
    EXPECT_EQ(hours.Value, 100000);
    EXPECT_EQ(T.Register(6), 0x0001);
    EXPECT_EQ(T.Register(7), 0x86A0);
    EXPECT_EQ(edit->text(), "100000 h");

    auto& name = T.As<TSettingName>("Unit Name");
    QLineEdit* text = Control(Box(name));
    EXPECT_EQ(text->text(), "Z7E");
    Type(text, "AB");
    EXPECT_EQ(name.Text, "AB");
    EXPECT_EQ(T.Register(20), 0x4142);
    EXPECT_EQ(T.Register(21), 0);
    // Leaving writes the registers even when the text did not change.
    T.SetRegister(20, 0);
    text->setFocus(Qt::MouseFocusReason);
    Elsewhere->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(T.Register(20), 0x4142);
}

TEST_F(EditorsTest, UnitsEditorAndSelector) {
    auto& velocity = T.As<TSettingUnits>("Velocity");
    auto& units = T.As<TSettingDropDown>("Units");
    QLineEdit* edit = Control(Box(velocity));
    EXPECT_EQ(edit->text(), "2.50 m/sec");
    Type(edit, "2.3");
    EXPECT_EQ(T.Register(4), 230);
    EXPECT_EQ(edit->text(), "2.30 m/sec");

    Choose(Control(Editor<TDropDownEditor>(units).ComboBox), 1);
    EXPECT_EQ(T.Tree().CurrentUnits, "ft/min");
    EXPECT_EQ(edit->text(), "450 ft/min");
    EXPECT_EQ(Control(Editor<TLabelEditor>(T.As<TSettingLabel>("Firmware")).ValueLabel)->text(), "42 ft/min");
    EXPECT_EQ(T.Register(1), 0); // the selector never writes its register
    // Tabbing through leaves the stored word alone, although 450 ft/min is not exactly 2.30 m/sec.
    edit->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(edit->text(), "450");
    Elsewhere->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(T.Register(4), 230);
    EXPECT_TRUE(Capture.messages.empty());
    Type(edit, "490");
    EXPECT_EQ(T.Register(4), 0x81EA);
    Type(edit, "3922");
    EXPECT_EQ(Capture.Last(), "The maximum value this setting can be is '3921.57'");
    EXPECT_TRUE(edit->hasFocus());
    Type(edit, "100");

    Choose(Editor<TDropDownEditor>(units).ComboBox, 0);
    EXPECT_EQ(edit->text(), "0.51 m/sec");
    Type(edit, "1.5");
    EXPECT_EQ(T.Register(4), 150);
}

TEST_F(EditorsTest, CheckBoxAndDropDowns) {
    auto& modeOn = T.As<TSettingCheckBox>("Mode on");
    auto& mode = T.As<TSettingDropDown>("Mode");
    QCheckBox* box = Control(Editor<TCheckBoxEditor>(modeOn).CheckBox);
    QComboBox* combo = Control(Editor<TDropDownEditor>(mode).ComboBox);
    EXPECT_EQ(box->geometry().topLeft(), QPoint(200, 120 + 7 * 32 + 6));
    EXPECT_EQ(box->width(), 18);
    EXPECT_EQ(combo->currentText(), "Off");
    EXPECT_EQ(combo->width(), 140);
    // Checking writes the custom value, and the drop-down on the same register shows it.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_EQ(modeOn.Value, 1);
    EXPECT_EQ(T.Register(8), 5);
    EXPECT_EQ(combo->currentText(), "On");
    Choose(combo, 2);
    EXPECT_EQ(T.Register(8), 7);
    EXPECT_EQ(modeOn.Value, 1); // not refreshed by a drop-down
    // Unchecking a box whose register already reads unchecked ("Eco") changes no register; the
    // page then shows what the register holds.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_EQ(T.Register(8), 7);
    EXPECT_EQ(combo->currentText(), "Eco");
    EXPECT_FALSE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_EQ(T.Register(8), 2);
    EXPECT_EQ(combo->currentText(), "Off");

    // A register value that no choice holds shows no choice.
    T.SetRegister(8, 9);
    T.Group(0).RefreshFromStore();
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(mode.Value, 9);

    // Mutual exclusion: input 2 holds Fire, so input 1 cannot take it.
    auto& input1 = T.As<TSettingDropDown>("Input 1");
    QComboBox* inputs = Control(Editor<TDropDownEditor>(input1).ComboBox);
    Choose(inputs, 1);
    EXPECT_EQ(Capture.messages.size(), 1u);
    EXPECT_EQ(Capture.Last().rfind("This setting is mutually exclusive", 0), 0u);
    EXPECT_EQ(inputs->currentText(), "Not used");
    EXPECT_EQ(input1.Value, 0);
    QTest::keyClick(inputs, Qt::Key_End);
    EXPECT_EQ(input1.Value, 2);
    EXPECT_EQ(T.Register(9), 2);
}

TEST_F(EditorsTest, EditingStateFollowsTheTree) {
    auto& speed = T.As<TSettingInt>("Speed");
    T.Tree().SetEnabled(false);
    EXPECT_FALSE(Control(Box(speed))->isEnabled());
    EXPECT_TRUE(Control(Box(speed))->isReadOnly());
    // A group opened while editing is off stays read-only.
    T.Group(1).Select();
    T.Group(0).Select();
    EXPECT_FALSE(Control(Box(speed))->isEnabled());
    EXPECT_FALSE(Control(Editor<TCheckBoxEditor>(T.As<TSettingCheckBox>("Mode on")).CheckBox)->isEnabled());
    EXPECT_FALSE(Control(Editor<TDropDownEditor>(T.As<TSettingDropDown>("Mode")).ComboBox)->isEnabled());
    T.Tree().SetEnabled(true);
    EXPECT_TRUE(Control(Box(speed))->isEnabled());
    EXPECT_FALSE(Control(Box(speed))->isReadOnly());
}

TEST_F(EditorsTest, ShowingAGroupReadsTheCompletedImage) {
    auto& speed = T.As<TSettingInt>("Speed");
    TFakeUnitMaster unit;
    unit.registers[3] = 66; // register 2 on the wire is reference 3
    // Before a completed read the page shows the values it has.
    T.Group(0).Select();
    EXPECT_EQ(Control(Box(speed))->text(), "20 %");
    T.Store.SetProtocol(&unit);
    T.Store.StartRead();
    for (int step = 0; step < 100 && T.Store.State() == ssReading; ++step)
        T.Store.ReadStep();
    ASSERT_TRUE(T.Store.IsComplete());
    T.Group(0).Select();
    EXPECT_EQ(speed.Value, 66);
    EXPECT_EQ(Control(Box(speed))->text(), "66 %");
}

TEST_F(EditorsTest, TextEditorStoresTheUnitsCodePageAndRefusesWhatItCannotHold) {
    auto& name = T.As<TSettingName>("Unit Name");
    QLineEdit* text = Control(Box(name));
    Type(text, "Büro");
    EXPECT_EQ(T.Register(20), 0x42FC);
    EXPECT_EQ(T.Register(21), 0x726F);
    EXPECT_TRUE(Capture.messages.empty());

    Type(text, "Łódź");
    ASSERT_EQ(Capture.messages.size(), 1u);
    EXPECT_EQ(Capture.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(Capture.Last(), "The unit cannot store these characters of 'Łódź': Ł ź\nA text setting holds "
                              "only the characters of Windows-1252 (Western European).");
    EXPECT_TRUE(text->hasFocus());
    EXPECT_EQ(name.Text, "Büro");
    EXPECT_EQ(T.Register(20), 0x42FC);
    Type(text, "Lodz");
    EXPECT_EQ(name.Text, "Lodz");

    // A byte above 0x7F from the unit shows as its character, and tabbing through writes it back
    // unchanged.
    T.SetRegister(20, 0x80E9);
    T.SetRegister(21, 0);
    T.Group(0).RefreshFromStore();
    EXPECT_EQ(text->text(), "€é");
    text->setFocus(Qt::MouseFocusReason);
    Elsewhere->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(T.Register(20), 0x80E9);
}

TEST_F(EditorsTest, TheUnitsSelectorKeepsTheChosenUnitsWhenThePageReadsAgain) {
    auto& units = T.As<TSettingDropDown>("Units");
    auto& velocity = T.As<TSettingUnits>("Velocity");
    // Online: a read of a unit in Pa, after which showing a group reads it from the image.
    TFakeUnitMaster unit;
    unit.registers[2] = 2; // register 1 on the wire
    unit.registers[5] = 250;
    T.Store.SetProtocol(&unit);
    T.Store.StartRead();
    for (int step = 0; step < 100 && T.Store.State() == ssReading; ++step)
        T.Store.ReadStep();
    ASSERT_TRUE(T.Store.IsComplete());
    T.Tree().TakeValuesFromStore();
    EXPECT_EQ(T.Tree().CurrentUnits, "Pa");
    T.Group(0).Select();
    EXPECT_EQ(Control(Editor<TDropDownEditor>(units).ComboBox)->currentText(), "Pa");

    Choose(Control(Editor<TDropDownEditor>(units).ComboBox), 1);
    ASSERT_EQ(T.Tree().CurrentUnits, "ft/min");
    const auto agree = [&] {
        EXPECT_EQ(T.Tree().CurrentUnits, "ft/min");
        EXPECT_EQ(units.Value, 1);
        EXPECT_EQ(Control(Editor<TDropDownEditor>(units).ComboBox)->currentText(), "ft/min");
        EXPECT_EQ(Control(Box(velocity))->text(), "490 ft/min");
    };
    T.Group(1).Select();
    T.Group(0).Select();
    agree();
    // A check box with custom values reads its whole group again.
    QCheckBox* box = Control(Editor<TCheckBoxEditor>(T.As<TSettingCheckBox>("Mode on")).CheckBox);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    agree();
    // A saved file records the choice the page shows.
    TTempDir dir;
    T.Tree().SaveToFile(dir.Path("a.rur"));
    EXPECT_NE(ReadFileText(dir.Path("a.rur"))
                  .find("name=\"Units\" ID=\"" + std::to_string(units.Id) + "\" value=\"1\""),
              std::string::npos);
}
