#include "base/Convert.h"

#include "base/Errors.h"

#include <algorithm>
#include <cctype>

std::optional<int32_t> TryStrToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return std::nullopt;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (magnitude > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 16) {
        // Hexadecimal gives the 32 bits as written.
        const uint32_t bits = static_cast<uint32_t>(magnitude);
        const uint32_t value = negative ? 0u - bits : bits;
        return static_cast<int32_t>(value);
    }
    if (negative) {
        if (magnitude > 0x80000000ull)
            return std::nullopt;
        return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    }
    if (magnitude > 0x7FFFFFFFull)
        return std::nullopt;
    return static_cast<int32_t>(magnitude);
}

int32_t StrToInt(const std::string& text) {
    if (const auto value = TryStrToInt(text))
        return *value;
    throw TConvertError("'" + text + "' is not a valid integer value");
}

bool StrToBool(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "true")
        return true;
    if (lower == "false")
        return false;
    if (const auto value = TryStrToInt(text))
        return *value != 0;
    throw TConvertError("'" + text + "' is not a valid Boolean value");
}
