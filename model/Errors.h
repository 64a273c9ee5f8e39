#pragma once
// The model reports problems as exceptions that carry the user-facing message; the
// user-interface boundary shows what() unchanged.
#include <cstddef>
#include <stdexcept>
#include <string>

class TModelError : public std::runtime_error {
public:
    explicit TModelError(const std::string& message) : std::runtime_error(message) {}

    // Where in the definition file the error arose: the byte offset of the element being read
    // (or of a parse error); -1 when unknown. Lets a checker name the line.
    std::ptrdiff_t SourceOffset = -1;
};

// A number in a definition or settings file, or typed by the user, that does not convert.
class TConvertError : public TModelError {
public:
    using TModelError::TModelError;
};
