#include "pipe_session.h"

#include <cstdio>

namespace {

// How a window that answers at once looks from outside: a message sent to
// it returns within the time.
bool AnswersWithin(HWND window, UINT timeoutMs, DWORD* tookMs)
{
    const DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    const LRESULT answered =
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs, &result);
    *tookMs = GetTickCount() - start;
    return answered != 0;
}

// Minimised and restored, as a user would: the panel is drawn anew.
void MinimiseAndRestore(HWND window)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    WaitUntil([&] { return IsIconic(window) != FALSE; }, 3000);
    PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    WaitUntil([&] { return IsIconic(window) == FALSE; }, 3000);
}

}  // namespace

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
    writer.Close();
}

void PipeSession::ExpectAnsweringWhileStuck(const std::string& text, uint8_t low, uint8_t high)
{
    // The repaint the line asks for comes only after its report; a paint
    // before that shows the line all the same, and leaves the window
    // answering.
    MinimiseAndRestore(window);
    EXPECT_TRUE(WaitForPanel(window, text, low, high, 3000))
        << "a paint while the report is stuck shows the line's text and lamps";
    DWORD took = 0;
    EXPECT_TRUE(AnswersWithin(window, 100, &took)) << "the window does not answer within 100 ms";
    std::printf("after a paint, the window answered in %lu ms while the report was stuck\n", took);

    PostMessageA(window, WM_SYSCOMMAND, 0x6000, 0);
    const MessageBoxView box = program->WaitForBox(3000);
    EXPECT_NE(box.window, nullptr) << "the About box does not open";
    EXPECT_EQ(box.caption, "Pipe Server Glimmerix");
    if (box.window != NULL) DismissBox(box);
    EXPECT_TRUE(WaitUntil([&] { return program->Boxes().empty(); }, 3000));

    const DWORD closedAt = GetTickCount();
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program->WaitForExit(2000), 0u) << "the program did not end within 2 s with exit code 0";
    std::printf("the program ended %lu ms after its window was closed\n", GetTickCount() - closedAt);
    program.reset();
    window = NULL;
    writer.Close();
}
