#pragma once
// The one table of Modbus function and exception names the program shows.
#include <cstdint>
#include <string>

// "Read Holding Registers" for 3; "function N" for a code without a name. The exception bit
// (0x80) is not part of the code.
std::string FunctionName(int32_t function);
// "Illegal Data Address" for 2; "exception N" for a code without a name.
std::string ExceptionName(int32_t code);
