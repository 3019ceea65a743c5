#pragma once
// What the end-to-end tests of the lamp road share, whichever device they
// give the program: the program started as a user starts it, its window, a
// writer on its pipe, and the reports a device then records.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "program_driver.h"

// A line written to the pipe, what the panel shows after it, and whether
// it sends a report.
struct LampLineCase {
    std::string write;
    std::string text;
    uint8_t low, high;
    bool reported;
};

// A base for test fixtures (beside ::testing::Test). Its steps fail the
// test that calls them.
class PipeSession {
protected:
    // Starts the program and waits for its window and its first panel.
    void StartProgram(const std::string& exePath, const std::string& args = "");
    // Writes bytes in one write and waits for the panel to show the result.
    void Send(const std::string& bytes, const std::string& text, uint8_t low, uint8_t high,
              DWORD timeoutMs = 10000);
    // Closes the window of a program that still runs; it must end with 0.
    // Afterwards there is no program, whatever it did.
    void CloseProgram();
    // With the report of the line just written stuck at the lamp, what a
    // user does must still work: a paint (the window minimised and
    // restored) shows the line, the window answers within 100 ms, the
    // About box opens, and closing the window ends the program within 2 s
    // with exit code 0. Afterwards there is no program.
    void ExpectAnsweringWhileStuck(const std::string& text, uint8_t low, uint8_t high);

    std::unique_ptr<RunningProgram> program;
    HWND window = NULL;
    PipeWriter writer;
};
