#pragma once
// The connect dialog's remembered choices, kept per user under the program's key
// ("Software\Roduzede\Dezadizi Config Manager\" in the Windows registry, an INI file elsewhere).
#include <cstdint>
#include <string>

// The stored integer; a value that does not exist is written with `defaultValue`, which is
// returned.
int32_t ReadRegistryInteger(const std::string& name, int32_t defaultValue);
// The stored value (non-zero is true); a missing value is written with the default.
bool ReadRegistryBool(const std::string& name, bool defaultValue);
void WriteRegistryInteger(const std::string& name, int32_t value);
// Stored as 1 or 0.
void WriteRegistryBool(const std::string& name, bool value);
