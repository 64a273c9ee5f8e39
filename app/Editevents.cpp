#include "app/Editevents.h"

#include "settings/Setting.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

TEditEvents::TEditEvents(QLineEdit* edit, bool& bouncingBack, std::function<void()> enter,
                         std::function<bool()> exit, std::function<void()> enterKey)
    : QObject(edit), FEdit(edit), FBouncingBack(bouncingBack), FEnter(std::move(enter)),
      FExit(std::move(exit)), FEnterKey(std::move(enterKey)) {
    edit->installEventFilter(this);
}

TEditEvents::~TEditEvents() {
    Detach();
}

void TEditEvents::Detach() {
    if (FEdit)
        FEdit->removeEventFilter(this);
    FEdit = nullptr;
}

namespace {
// Focus that moves to another window (a message box, another program) or a pop-up does not
// enter or leave the box: the user has not moved on from it.
bool MovesWithinWindow(const QFocusEvent* event) {
    return event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
}
} // namespace

bool TEditEvents::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FEdit.data())
        return false;
    switch (event->type()) {
    case QEvent::FocusIn:
        if (!FRefocusing && MovesWithinWindow(static_cast<QFocusEvent*>(event)) && FEnter)
            RunHandler(FEnter);
        return false;
    case QEvent::FocusOut: {
        // FBouncingBack is set while a box of the page with invalid text takes the focus back.
        // The focus may already have reached the next box, which then loses it without ever
        // having been entered: that is not leaving it.
        if (FInExit || FRefocusing || FBouncingBack || !MovesWithinWindow(static_cast<QFocusEvent*>(event)) ||
            !FExit)
            return false;
        bool valid = true;
        FInExit = true;
        RunHandler([&] { valid = FExit(); });
        FInExit = false;
        if (!valid && FEdit) {
            FRefocusing = true;
            FBouncingBack = true;
            FEdit->setFocus(Qt::OtherFocusReason);
            FBouncingBack = false;
            FRefocusing = false;
            // The box keeps the focus and its text; it never sees this focus-out.
            return true;
        }
        return false;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && FEnterKey)
            RunHandler(FEnterKey);
        return false;
    }
    default:
        return false;
    }
}

QLineEdit* NewEditBox(QWidget* parent, int index, int left, int top, int width) {
    auto* edit = new QLineEdit(parent);
    edit->hide();
    edit->setProperty("tag", index);
    edit->setGeometry(left, top, width, edit->sizeHint().height());
    return edit;
}

void FreeEditBox(QPointer<QLineEdit>& edit, QPointer<TEditEvents>& events) {
    if (events)
        events->Detach();
    events = nullptr;
    delete edit.data();
    edit = nullptr;
}
