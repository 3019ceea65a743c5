#pragma once

// What the console tools beside tolvaren share, apart from Windows: the lamp
// line they write into the pipe and the small rules of their command lines.

#include <cstdint>

enum : unsigned {
    kLampLineBytes = 8,    // ">5L", four hex digits and the line feed
    kUsageErrorMax = 256,  // room for a usage error message
};

// ">5L", the value as four upper-case hex digits and a line feed:
// kLampLineBytes bytes, no NUL.
void FormatLampLine(uint16_t value, char* out);

// A whole decimal number from low to high, digits only: no sign, no spaces.
bool ParseDecimal(const char* text, uint32_t low, uint32_t high, uint32_t* value);

// --help, -h, -? or /?.
bool IsHelpArgument(const char* arg);

// Puts a usage error into error (kUsageErrorMax bytes) and returns false,
// so that a parser can "return Fail(...)".
bool Fail(char* error, const char* message);

// The same with one argument quoted into the message. The format quotes it
// with "%.40s", so that the message always fits its buffer whole.
bool FailQuoting(char* error, const char* format, const char* argument);
