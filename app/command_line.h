#pragma once

#include <cstdint>

// Reads a hexadecimal id from at most the first four characters of text and
// stores its low 16 bits in *id. When nothing converts (a bare "-v", "-vzz",
// "-v0x"), *id keeps its value. Returns the number of converted fields.
int ParseHexId(const char* text, uint16_t* id);

// Reads "-vXXXX" and "-pXXXX" (or "/v", "/p") from the process command line,
// program path first. Only the space separates tokens, double quotes group
// them, and one pair of quotes around a whole token is stripped. The text is
// cut into tokens in place. Other tokens are ignored; a later option
// overrides an earlier one.
void ReadCommandLine(char* commandLine, uint16_t* vendorId, uint16_t* productId);

// The two shell helpers the reading is built on, with the behaviour of
// PathGetArgsA and PathUnquoteSpacesA (which they are, on Windows).
char* SkipToNextArgument(char* text);
void UnquoteArgument(char* token);
