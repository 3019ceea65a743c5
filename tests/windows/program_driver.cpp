#include "program_driver.h"

#include <cstdio>
#include <cstring>

#include <tlhelp32.h>

#include "wine_settings.h"

const char kPipeName[] = "\\\\.\\pipe\\korvinde";

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return done();
        Sleep(pollMs);
    }
}

std::string TestBinDirectory()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    char* slash = std::strrchr(path, '\\');
    if (slash != NULL) *slash = '\0';
    return path;
}

std::string WindowText(HWND window)
{
    char text[1024] = {0};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassName(HWND window)
{
    char name[256] = {0};
    GetClassNameA(window, name, sizeof name);
    return name;
}

RunningProgram::RunningProgram(const std::string& exePath, const std::string& args)
{
    std::string commandLine = "\"" + exePath + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (!CreateProcessA(exePath.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process_))
        process_ = PROCESS_INFORMATION();
}

namespace {

DWORD FindProcess(const char* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    DWORD found = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, exeName) == 0) found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

}  // namespace

bool RunningProgram::Attach(RunningProgram* program, const char* exeName, DWORD timeoutMs)
{
    DWORD id = 0;
    WaitUntil([&] { return (id = FindProcess(exeName)) != 0; }, timeoutMs);
    if (id == 0) return false;
    program->process_.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id);
    program->process_.dwProcessId = id;
    return program->process_.hProcess != NULL;
}

RunningProgram::~RunningProgram()
{
    if (process_.hProcess == NULL) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hProcess);
    if (process_.hThread != NULL) CloseHandle(process_.hThread);
}

namespace {

struct WindowSearch {
    DWORD processId;
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) &&
        ClassName(window) == search->className)
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> RunningProgram::Windows(const char* className) const
{
    WindowSearch search = {process_.dwProcessId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND RunningProgram::MainWindow() const
{
    const std::vector<HWND> windows = Windows("PipeWClass");
    return windows.size() == 1 ? windows[0] : NULL;
}

std::vector<MessageBoxView> RunningProgram::Boxes() const
{
    std::vector<MessageBoxView> boxes;
    for (HWND window : Windows("#32770")) {
        MessageBoxView box;
        box.window = window;
        box.caption = WindowText(window);
        box.text = WindowText(GetDlgItem(window, 0xFFFF));
        box.owner = GetWindow(window, GW_OWNER);
        boxes.push_back(box);
    }
    return boxes;
}

MessageBoxView RunningProgram::WaitForBox(DWORD timeoutMs) const
{
    std::vector<MessageBoxView> boxes;
    WaitUntil([&] {
        boxes = Boxes();
        return boxes.size() == 1 && !boxes[0].text.empty();
    }, timeoutMs);
    return boxes.size() == 1 ? boxes[0] : MessageBoxView();
}

HWND RunningProgram::WaitForMainWindow(DWORD timeoutMs) const
{
    HWND window = NULL;
    WaitUntil([&] { return (window = MainWindow()) != NULL; }, timeoutMs);
    return window;
}

DWORD RunningProgram::WaitForExit(DWORD timeoutMs)
{
    if (process_.hProcess == NULL) return STILL_ACTIVE;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

namespace {

// Wine answers GetProcessHandleCount with 0; the system-wide handle table
// (information class 16) is there, and counts the same.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

DWORD CountHandlesInSystemTable(DWORD processId)
{
    typedef LONG(WINAPI * QueryFunction)(ULONG, PVOID, ULONG, PULONG);
    FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    QueryFunction query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(found));
    if (query == NULL) return 0;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // the buffer is too small
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return 0;
        break;
    }
    const SystemHandleTable* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == processId) ++count;
    return count;
}

}  // namespace

DWORD RunningProgram::HandleCount() const
{
    DWORD count = 0;
    if (!GetProcessHandleCount(process_.hProcess, &count) || count == 0)
        count = CountHandlesInSystemTable(process_.dwProcessId);
    return count;
}

void DismissBox(const MessageBoxView& box)
{
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, IDOK)));
}

namespace {

enum PixelKind { kBlack, kYellow, kGrey, kOther };

PixelKind Classify(COLORREF colour)
{
    switch (colour) {
    case RGB(0, 0, 0): return kBlack;
    case RGB(255, 255, 0): return kYellow;
    case RGB(128, 128, 128): return kGrey;
    default: return kOther;
    }
}

POINT ClientOrigin(HWND window)
{
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

}  // namespace

PanelView ReadPanel(HWND mainWindow)
{
    PanelView view;
    const POINT origin = ClientOrigin(mainWindow);
    HDC screen = GetDC(NULL);
    view.readable = true;
    view.outlinesGrey = true;
    for (int row = 0; row < 2; ++row) {
        const int top = row == 0 ? 20 : 52;
        uint8_t bits = 0;
        for (int column = 0; column < 8; ++column) {
            const int x = origin.x + 32 * column + 16;
            const PixelKind centre = Classify(GetPixel(screen, x, origin.y + top + 16));
            if (centre == kYellow)
                bits |= static_cast<uint8_t>(0x80 >> column);
            else if (centre != kBlack)
                view.readable = false;
            // The outline's top and left edges.
            if (Classify(GetPixel(screen, x, origin.y + top)) != kGrey ||
                Classify(GetPixel(screen, origin.x + 32 * column, origin.y + top + 16)) != kGrey)
                view.outlinesGrey = false;
        }
        (row == 0 ? view.lampsLow : view.lampsHigh) = bits;
    }
    ReleaseDC(NULL, screen);
    return view;
}

namespace {

// A rectangle of a DC's pixels, read at once: read one by one from the
// screen, each pixel is a round trip to the X server, which in an emulated
// machine makes a comparison of a few thousand take seconds.
std::vector<DWORD> Pixels(HDC source, int x, int y, int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HDC copy = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    std::vector<DWORD> pixels;
    if (copy != NULL && bitmap != NULL && bits != NULL) {
        HGDIOBJ previous = SelectObject(copy, bitmap);
        if (BitBlt(copy, 0, 0, width, height, source, x, y, SRCCOPY)) {
            GdiFlush();
            const DWORD* first = static_cast<const DWORD*>(bits);
            pixels.assign(first, first + width * height);
            for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
        }
        SelectObject(copy, previous);
    }
    if (bitmap != NULL) DeleteObject(bitmap);
    if (copy != NULL) DeleteDC(copy);
    return pixels;
}

}  // namespace

bool PanelShowsText(HWND mainWindow, const std::string& text)
{
    const POINT origin = ClientOrigin(mainWindow);
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    const int width = 200;
    const int height = 20;
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetTextColor(memory, RGB(128, 128, 128));
    SetBkColor(memory, RGB(0, 0, 0));
    TextOutA(memory, 0, 0, text.c_str(), static_cast<int>(text.size()));

    const std::vector<DWORD> drawn = Pixels(memory, 0, 0, width, height);
    const bool same = !drawn.empty() && drawn == Pixels(screen, origin.x, origin.y, width, height);

    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return same;
}

bool WaitForPanel(HWND mainWindow, const std::string& text, uint8_t low, uint8_t high, DWORD timeoutMs)
{
    return WaitUntil([&] {
        const PanelView view = ReadPanel(mainWindow);
        return view.readable && view.outlinesGrey && view.lampsLow == low && view.lampsHigh == high &&
               PanelShowsText(mainWindow, text);
    }, timeoutMs);
}

DWORD PipeWriter::TryOpen()
{
    Close();
    pipe_ = CreateFileA(kPipeName, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    return pipe_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

DWORD PipeWriter::Open(DWORD timeoutMs)
{
    DWORD error = 0;
    WaitUntil([&] {
        error = TryOpen();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PIPE_BUSY;
    }, timeoutMs);
    return error;
}

bool PipeWriter::Write(const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
           written == bytes.size();
}

void PipeWriter::Close()
{
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
}

std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
    return path;
}

bool CopyBeside(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool SetWineWindowsVersion(const std::string& exeName, const char* version)
{
    return SetWineAppDefault(exeName, NULL, "Version", version);
}

std::string WineVersionText()
{
    typedef const char*(CDECL * GetVersion)(void);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const FARPROC found = ntdll == NULL ? NULL : GetProcAddress(ntdll, "wine_get_version");
    if (found == NULL) return "";
    return reinterpret_cast<GetVersion>(reinterpret_cast<void*>(found))();
}

int WineVersion()
{
    unsigned major = 0, minor = 0;
    if (std::sscanf(WineVersionText().c_str(), "%u.%u", &major, &minor) < 1) return 0;
    return static_cast<int>(major * 100 + minor);
}

std::string LampReport(uint8_t low, uint8_t high, const char* verdict)
{
    char text[64];
    std::snprintf(text, sizeof text, "7 01 00 %02X %02X 00 00 00 %s", low, high, verdict);
    return text;
}

long long Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

long long CountsPerMs()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart / 1000;
}
