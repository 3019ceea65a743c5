#pragma once

#include <windows.h>

// The system's text for an error code, in buffer, without the full stop
// and line end that would sit oddly inside a sentence; kNoErrorText for a
// code the system has no text for.
const char* ErrorText(DWORD code, char* buffer, DWORD size);
extern const char kNoErrorText[];
