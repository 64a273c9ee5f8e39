// The window on a current desktop: resized, scaled (this program also runs under
// QT_SCALE_FACTOR=2, see tests/CMakeLists.txt), driven by wheel and keyboard.
#include "WindowRig.h"

#include "app/Messageboxes.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

namespace {

class WindowFit : public ::testing::Test {
protected:
    void SetUp() override { ClearRememberedChoices(); }
    void TearDown() override { ClearRememberedChoices(); }
};

QRect InWindow(TfmMain& w, QWidget* control) {
    return QRect(control->mapTo(&w, QPoint(0, 0)), control->size());
}

// Every bottom and top control lies inside the window, none overlaps another, and the bottom
// row keeps to its corners.
void ExpectAllControlsPlaced(TfmMain& w) {
    const std::vector<QWidget*> controls{w.btConnectNew,    w.btRefresh2,         w.ProgressBar1,
                                         w.lbConnectStatus, w.btWriteSettingsNew, w.btExitNew};
    for (QWidget* control : controls) {
        EXPECT_TRUE(w.rect().contains(InWindow(w, control)))
            << control->objectName().toStdString() << " at " << InWindow(w, control).x() << ","
            << InWindow(w, control).y() << " in " << w.width() << "x" << w.height();
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(InWindow(w, controls[i]).intersects(InWindow(w, controls[j])))
                << controls[i]->objectName().toStdString() << " and "
                << controls[j]->objectName().toStdString();
        }
    }
    const QRect exit = InWindow(w, w.btExitNew);
    const QRect toolbar = InWindow(w, w.pnToolbarBottom);
    EXPECT_EQ(w.width() - 1 - exit.right(), 12);
    EXPECT_EQ(toolbar.bottom(), w.rect().bottom());
    EXPECT_LT(InWindow(w, w.btWriteSettingsNew).right(), exit.left());
    EXPECT_EQ(InWindow(w, w.ProgressBar1).left(), toolbar.left() + 15);
    // The groups list and the page take the height; the page the width.
    EXPECT_EQ(InWindow(w, w.sbMainArea).bottom() + 1, toolbar.top());
    EXPECT_EQ(InWindow(w, w.sbMainArea).right(), w.rect().right());
    EXPECT_EQ(InWindow(w, w.pnConnectStatus).bottom(), w.rect().bottom());
}

void Wheel(QWidget* target, int delta) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

// Where a label draws the first line of its text: it must lie wholly inside the label.
void ExpectFirstLineFits(QLabel* label, const QString& text) {
    label->setText(text);
    const QFontMetrics metrics = label->fontMetrics();
    const int flags = int(label->alignment()) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
    const QRect box = label->contentsRect();
    const QRect drawn = metrics.boundingRect(box, flags, text);
    const QString shown = text.trimmed();
    const QRect firstLine = metrics.boundingRect(box, flags, shown);
    EXPECT_GE(drawn.top(), box.top()) << text.toStdString();
    EXPECT_LE(drawn.top() + metrics.height(), box.bottom() + 1) << text.toStdString();
    EXPECT_LE(firstLine.width(), box.width()) << text.toStdString();
    if (!label->wordWrap())
        return;
    EXPECT_LE(firstLine.height(), box.height()) << text.toStdString();
}

} // namespace

TEST_F(WindowFit, ResizedToItsMinimumAndToAFullHdScreenEveryControlShowsInItsCorner) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    rig.OpenOffline(0);
    const QSize minimum = w.minimumSizeHint().expandedTo(w.minimumSize());
    ASSERT_GT(minimum.width(), 225);
    for (const QSize size : {minimum, QSize(1920, 1080)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        w.resize(size);
        QCoreApplication::processEvents();
        ASSERT_EQ(w.size(), size);
        ExpectAllControlsPlaced(w);
    }
    // Below the minimum the window does not go.
    w.resize(minimum - QSize(200, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(w.size(), minimum);
    // Taller, the groups list grows with the window.
    w.resize(1920, 1080);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.sbSettingsGroups->height(), 1080 - 71 - w.Panel2->height() - w.pnConnectStatus->height());
}

TEST_F(WindowFit, SizeAndPositionAreRememberedFromTheLastClose) {
    {
        TWindowRig rig;
        rig.w().setGeometry(QRect(40, 50, 1111, 777));
        rig.w().close();
    }
    TWindowRig rig;
    EXPECT_EQ(rig.w().size(), QSize(1111, 777));
    EXPECT_EQ(rig.w().geometry().topLeft(), QPoint(40, 50));
}

TEST_F(WindowFit, ProgressTextCaptionsAndStatusFitTheirLabels) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_EQ(w.devicePixelRatio(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    // The stores' block texts end in a line feed.
    for (const char* text : {"Reading Coils 1 - 800\n", "Writing Holding Registers 1000 - 1049\n",
                             "Reading settings please wait...", "Writing settings please wait...",
                             "Loaded into the program; press Write Settings to send it to the unit."})
        ExpectFirstLineFits(w.lbProgress, text);
    ExpectFirstLineFits(w.lbConnectStatus, "Connected to Z7E VAV Zone Interface.");
    ExpectFirstLineFits(w.lbConnectStatus, "Offline edit Z7E Fan Coil Interface (second floor east).");
    for (QPushButton* button : {w.btConnectNew, w.btRefresh2, w.btWriteSettingsNew, w.btExitNew}) {
        EXPECT_LE(button->sizeHint().width(), button->width() + 8) << button->text().toStdString();
        EXPECT_LE(button->fontMetrics().height(), button->height()) << button->text().toStdString();
    }
    EXPECT_LE(w.Label1->sizeHint().height(), w.pnTitle->height());

    // The captions, editors and copy buttons of a page, and the group buttons.
    rig.OpenOffline(0);
    for (int group : {0, 2}) {
        rig.ClickGroup(group);
        for (QWidget* area : {w.sbMainArea->widget(), w.sbSettingsGroups->widget()}) {
            for (QLabel* label : area->findChildren<QLabel*>()) {
                if (label->isVisible() && !label->wordWrap()) {
                    EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
                }
            }
            for (QPushButton* button : area->findChildren<QPushButton*>())
                EXPECT_LE(button->sizeHint().width(), button->width() + 8) << button->text().toStdString();
            for (QLineEdit* edit : area->findChildren<QLineEdit*>())
                EXPECT_LE(edit->fontMetrics().height(), edit->height()) << edit->text().toStdString();
        }
    }
}

TEST_F(WindowFit, TheWheelScrollsTheGroupsListOverItAndThePageElsewhere) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    rig.OpenOffline(0);
    QScrollBar* groups = w.sbSettingsGroups->verticalScrollBar();
    QScrollBar* page = w.sbMainArea->verticalScrollBar();
    ASSERT_GT(groups->maximum(), 0);
    ASSERT_GT(page->maximum(), 120);

    Wheel(rig.GroupButtons().at(1), -120);
    EXPECT_EQ(groups->value(), 120);
    EXPECT_EQ(page->value(), 0);
    Wheel(w.sbSettingsGroups->viewport(), -120 * 1000);
    EXPECT_EQ(groups->value(), groups->maximum());
    // Over the page, and over the rest of the window, a notch is 120 pixels of the page.
    Wheel(w.sbMainArea->viewport(), -120);
    EXPECT_EQ(page->value(), 120);
    Wheel(w.pnToolbarBottom, -120);
    EXPECT_EQ(page->value(), 240);
    EXPECT_EQ(groups->value(), groups->maximum());
}

TEST_F(WindowFit, TheOptionsMenuOpensFromTheKeyboardBelowItsButton) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    rig.OpenOffline(0);
    // Away from the screen's edges, so the menu is not pushed back onto the screen.
    w.move(20, 30);
    w.btRefresh2->setFocus();
    QTest::keyClick(w.btRefresh2, Qt::Key_Space);
    ASSERT_TRUE(w.PopupMenu->isVisible());
    EXPECT_EQ(w.PopupMenu->pos(), w.btRefresh2->mapToGlobal(QPoint(0, w.btRefresh2->height())));
    EXPECT_EQ(w.PopupMenu->activeAction(), w.tbLoadSettings);
    QTest::keyClick(w.PopupMenu, Qt::Key_Escape);
    EXPECT_FALSE(w.PopupMenu->isVisible());
    EXPECT_FALSE(w.btRefresh2->isDown());

    // Alt and the underlined letter, from anywhere in the window.
    QTest::keyClick(&w, Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.PopupMenu->isVisible(); }));
    QTest::keyClick(w.PopupMenu, Qt::Key_Escape);
}

TEST_F(WindowFit, MnemonicsDoNotClash) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    const auto letters = [](const std::vector<QPushButton*>& buttons) {
        std::map<QChar, std::string> seen;
        for (QPushButton* button : buttons) {
            const QString text = button->text();
            const qsizetype amp = text.indexOf('&');
            EXPECT_GE(amp, 0) << text.toStdString() << " has no mnemonic";
            if (amp < 0 || amp + 1 >= text.size())
                continue;
            const QChar letter = text[amp + 1].toLower();
            EXPECT_TRUE(seen.emplace(letter, text.toStdString()).second)
                << text.toStdString() << " and " << seen[letter] << " share Alt+" << letter.toLatin1();
        }
    };
    letters({w.btConnectNew, w.btRefresh2, w.btWriteSettingsNew, w.btExitNew});
    TfmConnect dialog(&w);
    letters({dialog.btnConnect, dialog.btnCancel});
}

TEST_F(WindowFit, MessageBoxesBelongToTheMainWindow) {
    auto rig = std::make_unique<TWindowRig>();
    // Not the active window (a result shown from a timer while another window is in front).
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    EXPECT_EQ(MessageParent(), &rig->w());
    rig.reset();
    EXPECT_EQ(MessageParent(), &other);
}

TEST_F(WindowFit, TabWalksThePageRowByRow) {
    TWindowRig rig;
    TfmMain& w = rig.w();
    rig.OpenOffline(0);
    // The first page, and a page of a replicated group with its copy buttons.
    for (int group : {0, 2}) {
        SCOPED_TRACE("group " + std::to_string(group));
        rig.ClickGroup(group);
        QWidget* page = w.sbMainArea->widget();
        std::vector<QWidget*> stops;
        for (QWidget* child : page->findChildren<QWidget*>()) {
            if (child->isVisible() && child->isEnabled() && (child->focusPolicy() & Qt::TabFocus) &&
                child->focusProxy() == nullptr)
                stops.push_back(child);
        }
        ASSERT_GT(stops.size(), 3u);
        const auto first = std::min_element(stops.begin(), stops.end(), [page](QWidget* a, QWidget* b) {
            return a->mapTo(page, QPoint()).y() < b->mapTo(page, QPoint()).y();
        });
        (*first)->setFocus(Qt::TabFocusReason);
        QWidget* previous = *first;
        for (size_t i = 1; i < stops.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            ASSERT_TRUE(now != nullptr && page->isAncestorOf(now)) << "left the page after " << i << " stops";
            const QRect a(previous->mapTo(page, QPoint()), previous->size());
            const QRect b(now->mapTo(page, QPoint()), now->size());
            // Next in the same row to the right, or in a row below.
            const bool sameRow = b.top() < a.bottom() && a.top() < b.bottom();
            EXPECT_TRUE(sameRow ? b.left() > a.left() : b.top() >= a.bottom())
                << previous->objectName().toStdString() << " at " << a.x() << "," << a.y() << " then "
                << now->objectName().toStdString() << " at " << b.x() << "," << b.y();
            previous = now;
        }
    }
}
