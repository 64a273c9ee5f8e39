#include "model/Messages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QString>
#include <iostream>

namespace {

// A question box that tells a close by the window's close button from a No (Escape still
// answers No).
class TQuestionBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    bool Closed = false;

protected:
    void closeEvent(QCloseEvent* event) override {
        Closed = true;
        QMessageBox::closeEvent(event);
    }
};

// Set while a question whose default answer is No is asked (user-interface thread only).
bool DefaultNo = false;

TAnswer DefaultHandler(TMessageKind kind, const std::string& text) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::cerr << text << std::endl;
        return kind != TMessageKind::Question ? TAnswer::Yes : TAnswer::No;
    }
    const QString title = QApplication::applicationName();
    const QString body = QString::fromStdString(text);
    QWidget* parent = QApplication::activeWindow();
    switch (kind) {
    case TMessageKind::Error:
        QMessageBox::critical(parent, title, body, QMessageBox::Ok);
        return TAnswer::Yes;
    case TMessageKind::Information:
        QMessageBox::information(parent, title, body, QMessageBox::Ok);
        return TAnswer::Yes;
    case TMessageKind::Plain: {
        QMessageBox box(QMessageBox::NoIcon, title, body, QMessageBox::Ok, parent);
        box.exec();
        return TAnswer::Yes;
    }
    case TMessageKind::Question: {
        TQuestionBox box(QMessageBox::Question, title, body, QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(DefaultNo ? QMessageBox::No : QMessageBox::Yes);
        const int answer = box.exec();
        if (box.Closed)
            return TAnswer::Closed;
        return answer == QMessageBox::Yes ? TAnswer::Yes : TAnswer::No;
    }
    }
    return TAnswer::No;
}

TMessageHandler& Handler() {
    static TMessageHandler handler = DefaultHandler;
    return handler;
}

} // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) {
    TMessageHandler previous = Handler();
    Handler() = handler ? std::move(handler) : TMessageHandler(DefaultHandler);
    return previous;
}

void ShowError(const std::string& text) {
    Handler()(TMessageKind::Error, text);
}
void ShowInformation(const std::string& text) {
    Handler()(TMessageKind::Information, text);
}
void ShowPlain(const std::string& text) {
    Handler()(TMessageKind::Plain, text);
}
TAnswer AskYesNo(const std::string& text) {
    return Handler()(TMessageKind::Question, text);
}
TAnswer AskYesNoDefaultNo(const std::string& text) {
    struct TScope {
        TScope() { DefaultNo = true; }
        ~TScope() { DefaultNo = false; }
    } scope;
    return Handler()(TMessageKind::Question, text);
}
