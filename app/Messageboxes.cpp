#include "app/Messageboxes.h"

#include "app/Application.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPointer>
#include <QString>

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

} // namespace

TAnswer ShowMessageBox(TMessageKind kind, const std::string& text) {
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
    case TMessageKind::Warning:
        QMessageBox::warning(parent, title, body, QMessageBox::Ok);
        return TAnswer::Yes;
    case TMessageKind::Plain: {
        QMessageBox box(QMessageBox::NoIcon, title, body, QMessageBox::Ok, parent);
        box.exec();
        return TAnswer::Yes;
    }
    case TMessageKind::Question: {
        TQuestionBox box(QMessageBox::Question, title, body, QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::Yes);
        const int answer = box.exec();
        if (box.Closed)
            return TAnswer::Closed;
        return answer == QMessageBox::Yes ? TAnswer::Yes : TAnswer::No;
    }
    case TMessageKind::QuestionWithCancel: {
        QMessageBox box(QMessageBox::Question, title, body,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        return answer == QMessageBox::Yes  ? TAnswer::Yes
               : answer == QMessageBox::No ? TAnswer::No
                                           : TAnswer::Cancel;
    }
    case TMessageKind::CautiousQuestion: {
        const qsizetype split = body.indexOf(QStringLiteral("\n\n"));
        QMessageBox box(QMessageBox::Question, title, split < 0 ? body : body.left(split),
                        QMessageBox::Yes | QMessageBox::No, parent);
        if (split >= 0)
            box.setDetailedText(body.mid(split + 2));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? TAnswer::Yes : TAnswer::No;
    }
    }
    return TAnswer::No;
}

void SetMessageOwner(QWidget* owner) {
    if (TApplication* application = TApplication::Instance())
        application->MessageOwner = owner;
}

QWidget* MessageParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (TApplication* application = TApplication::Instance();
        application != nullptr && application->MessageOwner)
        return application->MessageOwner;
    return QApplication::activeWindow();
}
