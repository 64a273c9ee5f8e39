// The standard exception display and the real question box.
#include "app/Application.h"
#include "app/Messageboxes.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

TEST(StandardExceptionDisplay, ShowsTheMessageInAnErrorBoxAndCarriesOn) {
    TMessageCapture messages;
    EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("Could not open the file"); }));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(messages.Last(), "Could not open the file");
    EXPECT_TRUE(RunGuarded([] {}));
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST(StandardExceptionDisplay, SomethingThatIsNotAStandardExceptionShowsAnEmptyMessage) {
    TMessageCapture messages;
    EXPECT_FALSE(RunGuarded([] { throw 42; }));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(messages.Last(), "");
}

// The real question box, answered the three ways a user can leave it.
TEST(QuestionBox, TellsYesNoAndAClosedBoxApart) {
    const TMessageHandler previous = SetMessageHandler(ShowMessageBox);
    struct TCase {
        const char* name;
        std::function<void(QMessageBox&)> leave;
        TAnswer answer;
    };
    const std::vector<TCase> cases{
        {"Yes", [](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton); },
         TAnswer::Yes},
        {"No", [](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton); },
         TAnswer::No},
        {"Escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, TAnswer::No},
        {"closed", [](QMessageBox& box) { box.close(); }, TAnswer::Closed},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = box->text().toStdString();
            c.leave(*box);
        });
        EXPECT_EQ(AskYesNo("Are you sure?"), c.answer);
        EXPECT_EQ(shown, "Are you sure?");
    }
    SetMessageHandler(previous);
}

// A question whose safe answer is No: the default button, Escape and the close button all say No,
// and the details are in the box's details.
TEST(QuestionBox, ACautiousQuestionDefaultsToNoAndKeepsItsDetailsApart) {
    const TMessageHandler previous = SetMessageHandler(ShowMessageBox);
    struct TCase {
        const char* name;
        std::function<void(QMessageBox&)> leave;
        TAnswer answer;
    };
    const std::vector<TCase> cases{
        {"Yes", [](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton); },
         TAnswer::Yes},
        {"Enter", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, TAnswer::No},
        {"Escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, TAnswer::No},
        {"closed", [](QMessageBox& box) { box.close(); }, TAnswer::No},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string shown;
        std::string details;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = box->text().toStdString();
            details = box->detailedText().toStdString();
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            c.leave(*box);
        });
        EXPECT_EQ(AskYesNoDefaultNo("Load them anyway?", {"first", "second"}), c.answer);
        EXPECT_EQ(shown, "Load them anyway?");
        EXPECT_EQ(details, "first\nsecond");
    }
    SetMessageHandler(previous);
}

// Each window installs the substitutes again: every substitute stays listed once, in its place.
TEST(FontSubstitutes, InstallingThemAgainChangesNothing) {
    InstallFontSubstitutes();
    const QStringList first = QFont::substitutes("MS Sans Serif");
    ASSERT_FALSE(first.isEmpty());
    InstallFontSubstitutes();
    EXPECT_EQ(QFont::substitutes("MS Sans Serif"), first);
}
