#pragma once
// Text to number conversion shared by the definition file, settings files and editors.
// Decimal text is a signed 32-bit number; "$" or "0x" introduces hexadecimal that may use all
// 32 bits (so "$FFFF8000" is -32768). Leading blanks and a sign are allowed.
#include <cstdint>
#include <optional>
#include <string>

std::optional<int32_t> TryStrToInt(const std::string& text);
// Raises TConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// "true"/"false" in any letter case, or a number (non-zero is true). Raises TConvertError
// "'<text>' is not a valid Boolean value" otherwise.
bool StrToBool(const std::string& text);
