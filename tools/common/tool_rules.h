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
// so that a parser can "return Fail(...)". A format quotes what the user
// gave with "%.40s", so that the message always fits its buffer whole.
bool Fail(char* error, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Whether a tool was double-clicked, as in Explorer, rather than started from
// a command prompt: no arguments, and a console of its own with a window.
// Nobody can type a command line there, and the window closes the moment
// the tool ends. A prompt's console holds the prompt's process too; a
// console without a window is a terminal's (Wine's in a Unix terminal).
// consoleProcesses is how many processes the console holds, 0 when that
// can't be told.
bool IsDoubleClickStart(int argc, unsigned consoleProcesses, bool consoleHasWindow);

// The path of the file called name in the folder of program (a program's
// own path), into out (size bytes with its NUL). False when program names no
// folder or the result would not fit; out is then untouched.
bool PathBeside(const char* program, const char* name, char* out, unsigned size);
