#include "pipe_session.h"

#include <cstdio>

std::string LampReport(uint8_t low, uint8_t high, const char* verdict)
{
    char text[64];
    std::snprintf(text, sizeof text, "7 01 00 %02X %02X 00 00 00 %s", low, high, verdict);
    return text;
}

void PipeSession::StartProgram(const std::string& exePath, const std::string& args)
{
    program.reset(new RunningProgram(exePath, args));
    ASSERT_TRUE(program->started()) << exePath;
    window = program->WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForPanel(window, ">???", 0, 0));
}

void PipeSession::Send(const std::string& bytes, const std::string& text, uint8_t low, uint8_t high,
                       DWORD timeoutMs)
{
    ASSERT_TRUE(writer.open() || writer.Open() == 0);
    ASSERT_TRUE(writer.Write(bytes));
    EXPECT_TRUE(WaitForPanel(window, text, low, high, timeoutMs))
        << "after writing " << ::testing::PrintToString(bytes);
}

void PipeSession::CloseProgram()
{
    if (program && window != NULL && program->WaitForExit(0) == STILL_ACTIVE) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(program->WaitForExit(), 0u);
    }
    // Ended for good (RunningProgram's destructor kills one that did not
    // close) before the fixture's device goes.
    program.reset();
    window = NULL;
}
