#include "WindowRig.h"

#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <algorithm>

void ClearRememberedChoices() {
    QSettings("Roduzede", "Dezadizi Config Manager").clear();
}

TFileDialogScope::TFileDialogScope() {
    FPrevious = SetFileDialogRunner([this](QWidget*, const TFileDialogRequest& request) {
        shown.push_back(request);
        if (answers.empty())
            return QString();
        const QString answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
}

TFileDialogScope::~TFileDialogScope() {
    SetFileDialogRunner(FPrevious);
}

TWindowRig::TWindowRig(const std::string& definitionPath) {
    FPreviousReview = SetReviewRunner([this](TfmReview& dialog) {
        ++reviewsShown;
        return review ? review(dialog) : static_cast<int>(QDialog::Accepted);
    });
    window = std::make_unique<TfmMain>(nullptr, definitionPath);
    window->show();
    Activate();
}

TWindowRig::~TWindowRig() {
    window.reset();
    SetReviewRunner(FPreviousReview);
}

void TWindowRig::OpenOffline(int deviceIndex) {
    TConnectRunnerScope scope([deviceIndex](TfmConnect& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.rbOffline, Qt::LeftButton);
        dialog.cbDevice->setFocus();
        dialog.cbDevice->setCurrentIndex(0);
        for (int i = 0; i < deviceIndex; ++i)
            QTest::keyClick(dialog.cbDevice, Qt::Key_Down);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        if (dialog.isVisible())
            QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
        return dialog.result();
    });
    QTest::mouseClick(window->btConnectNew, Qt::LeftButton);
    // The dialog took the activation; the offscreen platform does not hand it back.
    Activate();
}

std::vector<QPushButton*> TWindowRig::GroupButtons() const {
    std::vector<QPushButton*> buttons;
    if (QWidget* content = window->sbSettingsGroups->widget()) {
        for (QPushButton* button : content->findChildren<QPushButton*>())
            buttons.push_back(button);
    }
    std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) {
        return a->property("tag").toInt() < b->property("tag").toInt();
    });
    return buttons;
}

void TWindowRig::ClickGroup(int position) {
    const auto buttons = GroupButtons();
    QPushButton* button = buttons.at(static_cast<size_t>(position));
    window->sbSettingsGroups->ensureWidgetVisible(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

TSetting* TWindowRig::Find(const std::string& name) const {
    return Current()->Settings->FindSetting(name);
}

void TWindowRig::Type(QLineEdit* edit, const QString& text, TLeave leave) {
    window->sbMainArea->ensureWidgetVisible(edit);
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->selectAll();
    QTest::keyClicks(edit, text);
    if (leave == TLeave::Tab)
        QTest::keyClick(edit, Qt::Key_Tab);
    else
        QTest::mouseClick(window->sbMainArea->widget(), Qt::LeftButton, {}, QPoint(5, edit->y()));
}

void TWindowRig::Choose(QComboBox* combo, int index) {
    window->sbMainArea->ensureWidgetVisible(combo);
    combo->setFocus(Qt::MouseFocusReason);
    // A refused choice puts the old one back, so the steps are counted beforehand.
    const int steps = index - combo->currentIndex();
    for (int i = 0; i < steps; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    for (int i = 0; i < -steps; ++i)
        QTest::keyClick(combo, Qt::Key_Up);
}

void TWindowRig::ClickOptionsItem(QAction* item) {
    QTest::mousePress(window->btRefresh2, Qt::LeftButton);
    QMenu* menu = window->PopupMenu;
    if (!menu->isVisible())
        return;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    QTest::mouseRelease(window->btRefresh2, Qt::LeftButton);
    // The offscreen platform does not hand activation back when a pop-up closes.
    Activate();
}

int16_t TWindowRig::HoldingRegister(int32_t number) const {
    int16_t value = 0;
    window->Store()->GetHoldingRegisters(number, &value, 1);
    return value;
}

bool TWindowRig::Coil(int32_t number) const {
    return window->Store()->GetCoil(number);
}

void TWindowRig::Activate() {
    // Focus moves only within the active window. Without a window manager (a bare X server)
    // activation may never be confirmed; a short wait then does as well as a long one.
    QApplication::setActiveWindow(window.get());
    (void)QTest::qWaitFor([this] { return window->isActiveWindow(); }, 500);
}
