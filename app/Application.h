#pragma once
// The application's standard exception display: an exception leaving a handler is shown in an
// error box and the program carries on.
#include <exception>
#include <functional>

void ShowException(const std::exception_ptr& error);

// Runs `handler`, showing any exception that leaves it. Returns false when one did.
bool RunGuarded(const std::function<void()>& handler);

// Maps the classic font names the windows ask for onto the closest fonts a system has.
void InstallFontSubstitutes();
