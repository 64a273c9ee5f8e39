#pragma once
// The model reports problems as exceptions that carry the user-facing message; the
// user-interface boundary shows what() unchanged.
#include <stdexcept>
#include <string>

class TModelError : public std::runtime_error {
public:
    explicit TModelError(const std::string& message) : std::runtime_error(message) {}
};

// A number in a definition or settings file, or typed by the user, that does not convert.
class TConvertError : public TModelError {
public:
    using TModelError::TModelError;
};
