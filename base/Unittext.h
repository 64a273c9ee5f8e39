#pragma once
// The unit's text: one byte a character in Windows-1252. The model holds UTF-8; these convert at
// the registers.
#include <string>
#include <string_view>

// The byte that stands for a character in the unit's text, or -1 when the unit has none for it.
// Control characters are not text and have none.
int UnitTextByte(char32_t character);

// UTF-8 text as the unit's bytes. A character the unit cannot store becomes '?' and is listed
// once, in the order met, in `refused` (UTF-8) when given.
std::string EncodeUnitText(std::string_view utf8, std::string* refused = nullptr);

// The unit's bytes as UTF-8. A control byte, or one that stands for no character, becomes '?';
// `replaced` counts them when given.
std::string DecodeUnitText(std::string_view bytes, int* replaced = nullptr);
