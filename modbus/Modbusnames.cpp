#include "modbus/Modbusnames.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<int32_t, const char*>, 8> FunctionNames{{
    {1, "Read Coils"},
    {2, "Read Discrete Inputs"},
    {3, "Read Holding Registers"},
    {4, "Read Input Registers"},
    {5, "Write Single Coil"},
    {6, "Write Single Register"},
    {15, "Write Multiple Coils"},
    {16, "Write Multiple Registers"},
}};

constexpr std::array<std::pair<int32_t, const char*>, 9> ExceptionNames{{
    {1, "Illegal Function"},
    {2, "Illegal Data Address"},
    {3, "Illegal Data Value"},
    {4, "Server Device Failure"},
    {5, "Acknowledge"},
    {6, "Server Device Busy"},
    {8, "Memory Parity Error"},
    {10, "Gateway Path Unavailable"},
    {11, "Gateway Target Device Failed to Respond"},
}};

template <size_t N>
const char* Find(const std::array<std::pair<int32_t, const char*>, N>& table, int32_t code) {
    for (const auto& [key, name] : table)
        if (key == code)
            return name;
    return nullptr;
}

} // namespace

std::string FunctionName(int32_t function) {
    const char* name = Find(FunctionNames, function);
    return name != nullptr ? name : "function " + std::to_string(function);
}

std::string ExceptionName(int32_t code) {
    const char* name = Find(ExceptionNames, code);
    return name != nullptr ? name : "exception " + std::to_string(code);
}
