#include "model/Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <iostream>

namespace {

bool DefaultHandler(TMessageKind kind, const std::string& text) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::cerr << text << std::endl;
        return kind != TMessageKind::Question;
    }
    const QString title = QApplication::applicationName();
    const QString body = QString::fromStdString(text);
    QWidget* parent = QApplication::activeWindow();
    switch (kind) {
    case TMessageKind::Error:
        QMessageBox::critical(parent, title, body, QMessageBox::Ok);
        return true;
    case TMessageKind::Information:
        QMessageBox::information(parent, title, body, QMessageBox::Ok);
        return true;
    case TMessageKind::Plain: {
        QMessageBox box(QMessageBox::NoIcon, title, body, QMessageBox::Ok, parent);
        box.exec();
        return true;
    }
    case TMessageKind::Question:
        return QMessageBox::question(parent, title, body, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    }
    return false;
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
bool AskYesNo(const std::string& text) {
    return Handler()(TMessageKind::Question, text);
}
