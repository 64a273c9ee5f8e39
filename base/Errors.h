#pragma once
// The model reports problems as exceptions that carry the user-facing message; the
// user-interface boundary shows what() unchanged.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// A settings file whose group and setting numbers lead to groups or settings of other names
// than the file gives them, or nowhere where the names would: it was saved with other
// definitions. what() is the message the load by numbers gives; ByNameNotes says what a load
// by names would skip and what it would leave as it is.
class TOtherDefinitionsError : public TModelError {
public:
    TOtherDefinitionsError(const std::string& message, std::vector<std::string> byNameNotes)
        : TModelError(message), ByNameNotes(std::move(byNameNotes)) {}
    std::vector<std::string> ByNameNotes;
};

// Values of a settings file that lie outside their settings' limits; loaded only with consent.
// Values holds one line each: the setting, the value and the limits.
class TOutOfLimitsError : public TModelError {
public:
    explicit TOutOfLimitsError(std::vector<std::string> values)
        : TModelError(Message(values)), Values(std::move(values)) {}
    std::vector<std::string> Values;

    // "N values in the file are outside their settings' limits", without punctuation.
    static std::string Summary(size_t count) {
        return count == 1 ? std::string("1 value in the file is outside its setting's limits")
                          : std::to_string(count) + " values in the file are outside their settings' limits";
    }

private:
    static std::string Message(const std::vector<std::string>& values) {
        std::string text = Summary(values.size()) + ":";
        for (const std::string& value : values)
            text += "\n" + value;
        return text;
    }
};
