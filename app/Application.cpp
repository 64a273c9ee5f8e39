#include "app/Application.h"

#include "model/Messages.h"

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
