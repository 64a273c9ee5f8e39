#pragma once
// Focus and key handling of a setting's edit box: entering it, leaving it (the focus stays in
// the box while the text is not valid) and pressing Enter.
#include <QObject>
#include <QPointer>
#include <functional>

class QLineEdit;

class TEditEvents : public QObject {
public:
    // `exit` returns false when the text is not valid; the focus then goes back to the box.
    // `bouncingBack` is shared by the boxes of one page (see eventFilter).
    TEditEvents(QLineEdit* edit, bool& bouncingBack, std::function<void()> enter, std::function<bool()> exit,
                std::function<void()> enterKey);
    ~TEditEvents() override;

    // Detaches from the box; called before the box is freed, so leaving a box that is being
    // destroyed never runs the handlers.
    void Detach();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QLineEdit> FEdit;
    bool& FBouncingBack;
    std::function<void()> FEnter;
    std::function<bool()> FExit;
    std::function<void()> FEnterKey;
    bool FInExit = false;
    bool FRefocusing = false;
};

// Makes an edit box at (left, top) with the given width on `parent`, hidden. The caller shows it.
QLineEdit* NewEditBox(QWidget* parent, int index, int left, int top, int width);
// Frees an edit box and its event handler.
void FreeEditBox(QPointer<QLineEdit>& edit, QPointer<TEditEvents>& events);
