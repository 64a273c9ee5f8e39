#include "app/Application.h"

#include "base/Messages.h"

#include <QFont>
#include <QStringList>
#include <exception>

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
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    // Narrow sans faces first: the layouts were drawn for fonts narrower than most defaults.
    QFont::insertSubstitutions("MS Sans Serif",
                               {"Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans Condensed"});
    QFont::insertSubstitutions("Arial Narrow", {"Liberation Sans Narrow", "DejaVu Sans Condensed"});
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
}
