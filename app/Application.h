#pragma once
// The window program's application object, which owns what the program's windows share, and its
// standard exception display: an exception leaving a handler is shown in an error box and the
// program carries on.
#include "app/Dialogs.h"
#include "base/Messages.h"

#include <QApplication>
#include <QPointer>
#include <exception>
#include <functional>

class QWidget;

// Every program that shows the windows runs one. While it lives the program's messages are
// shown in boxes (app/Messageboxes.h) and the classic font names have their substitutes.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // The running one; null in a program without it (the command-line tool, the simulator).
    static TApplication* Instance();

    TDialogSeams DialogSeams;
    // The window boxes belong to when no modal dialog is up (SetMessageOwner).
    QPointer<QWidget> MessageOwner;

private:
    TMessageHandler FPreviousHandler;
};

void ShowException(const std::exception_ptr& error);

// Runs `handler`, showing any exception that leaves it. Returns false when one did.
bool RunGuarded(const std::function<void()>& handler);

// Maps the classic font names the windows ask for onto the closest fonts a system has. Qt keeps
// each substitute once, so doing it again changes nothing.
void InstallFontSubstitutes();
