#pragma once
// Drives the main window as a user would: a window on the offscreen platform, the connect
// dialog and the file dialogs run through their seams, message boxes captured.
#include "app/Dialogs.h"
#include "app/Fm_connect.h"
#include "app/Fm_main.h"
#include "app/Fm_review.h"
#include "app/Grouppage.h"
#include "app/Settingeditors.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TDevice;
class TSetting;

// Clears the remembered connect choices.
void ClearRememberedChoices();

// Installs a connect-dialog runner for its lifetime.
class TConnectRunnerScope {
public:
    explicit TConnectRunnerScope(TConnectDialogRunner runner)
        : FPrevious(SetConnectDialogRunner(std::move(runner))) {}
    ~TConnectRunnerScope() { SetConnectDialogRunner(FPrevious); }

private:
    TConnectDialogRunner FPrevious;
};

// Answers the file dialogs with queued paths (empty: cancelled) and records what they showed.
class TFileDialogScope {
public:
    TFileDialogScope();
    ~TFileDialogScope();
    std::vector<QString> answers;
    std::vector<TFileDialogRequest> shown;

private:
    TFileDialogRunner FPrevious;
};

class TWindowRig {
public:
    explicit TWindowRig(const std::string& definitionPath = BinPath("Devices.xml"));
    ~TWindowRig();

    TfmMain& w() { return *window; }
    // Connect, choose offline and the device type at `deviceIndex`, press Edit.
    void OpenOffline(int deviceIndex);
    // The group buttons of the groups list, in list order.
    std::vector<QPushButton*> GroupButtons() const;
    void ClickGroup(int position);
    TDevice* Current() const { return window->FCurrentDevice; }
    TSetting* Find(const std::string& name) const;
    // Types `text` into a setting's edit box and leaves it with Tab, or by clicking an empty part
    // of the page (which enters no other box).
    enum class TLeave { Tab, ClickPage };
    void Type(QLineEdit* edit, const QString& text, TLeave leave = TLeave::Tab);
    // Chooses an entry of a drop-down with the keyboard.
    void Choose(QComboBox* combo, int index);
    void ClickOptionsItem(QAction* item);
    int16_t HoldingRegister(int32_t number) const;
    void Activate();
    bool Coil(int32_t number) const;

    TMessageCapture messages;
    // The review before a write: how many were shown, and how each is answered (none: Write
    // with every row ticked).
    int reviewsShown = 0;
    TReviewRunner review;
    std::unique_ptr<TfmMain> window;

private:
    TReviewRunner FPreviousReview;
};
