#pragma once
// Small files the tests write and read back: device descriptions, logs.
#include <string>
#include <vector>

// Writes text to a new file at path.
bool WriteTextFile(const std::string& path, const std::string& text);

// The whole file, or "" when it can't be read. It may be open for writing
// elsewhere.
std::string ReadTextFile(const std::string& path);

// The file's lines, each without its "\r\n" or "\n" (Linux programs' logs).
std::vector<std::string> ReadTextLines(const std::string& path);

// Makes a fresh directory in the temp folder, named after stem, this
// process and a count, and returns its path.
std::string MakeTestDirectory(const char* stem);
