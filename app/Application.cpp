#include "app/Application.h"

#include "app/Messageboxes.h"

#include <QFont>
#include <QStringList>
#include <exception>
#include <utility>

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), FPreviousHandler(SetMessageHandler(ShowMessageBox)) {
    InstallFontSubstitutes();
}

TApplication::~TApplication() {
    SetMessageHandler(std::move(FPreviousHandler));
}

TApplication* TApplication::Instance() {
    return dynamic_cast<TApplication*>(QCoreApplication::instance());
}

void ShowException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowError(e.what());
    } catch (...) {
        // Anything that is not a standard exception is shown with an empty message.
        ShowError("");
    }
}

bool RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

void InstallFontSubstitutes() {
    // Narrow sans faces first: the layouts were drawn for fonts narrower than most defaults.
    QFont::insertSubstitutions("MS Sans Serif",
                               {"Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans Condensed"});
    QFont::insertSubstitutions("Arial Narrow", {"Liberation Sans Narrow", "DejaVu Sans Condensed"});
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
}
