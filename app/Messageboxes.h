#pragma once
// The window program's message boxes: the handler behind ShowError and the questions while a
// QApplication runs, and the window boxes belong to.
#include "base/Messages.h"

class QWidget;

// The handler the window program shows its messages with (TApplication installs it): a real
// box, modal, with the buttons the kind asks for.
TAnswer ShowMessageBox(TMessageKind kind, const std::string& text);
// The window boxes belong to when no modal dialog is up, so that a result shown from a timer
// never opens behind it. Null: the active window. TApplication keeps it; without one, boxes
// belong to the active window.
void SetMessageOwner(QWidget* owner);
// The parent a box gets now: the modal dialog in front, else the owner, else the active window.
QWidget* MessageParent();
