#include "model/Messages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPointer>
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

TAnswer DefaultHandler(TMessageKind kind, const std::string& text) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::cerr << text << std::endl;
        return kind != TMessageKind::Question ? TAnswer::Yes : TAnswer::No;
    }
    const QString title = QApplication::applicationName();
    const QString body = QString::fromStdString(text);
    QWidget* parent = MessageParent();
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
        const int answer = box.exec();
        if (box.Closed)
            return TAnswer::Closed;
        return answer == QMessageBox::Yes ? TAnswer::Yes : TAnswer::No;
    }
    }
    return TAnswer::No;
}

QPointer<QWidget>& Owner() {
    static QPointer<QWidget> owner;
    return owner;
}

TMessageHandler& Handler() {
    static TMessageHandler handler = DefaultHandler;
    return handler;
}

} // namespace

void SetMessageOwner(QWidget* owner) {
    Owner() = owner;
}

QWidget* MessageParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* owner = Owner())
        return owner;
    return QApplication::activeWindow();
}

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
