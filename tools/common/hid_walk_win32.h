#pragma once
// One walk over the HID interfaces present, for the tools: tolvaren-send's
// list and the virtual lamp's search for its device. It hands each
// interface to a visitor with its path and, when asked, its device's
// instance id and the device opened, and closes every handle it opened
// before it goes on, however the visitor ends. The ANSI calls, as tolvaren
// makes them, so that the tests' simulated setupapi serves it too.
#include <windows.h>

// The longest device path the walk reads, in characters: roomier than
// tolvaren's, so that a device tolvaren passes over for its path is still
// seen.
const DWORD kHidWalkPathChars = 1024;
const DWORD kHidWalkInstanceChars = 200;

struct HidInterfaceInfo {
    DWORD index;              // its place in the system's list, from 0
    const char* path;         // NULL when it can't be read; pathError says why
    DWORD pathError;
    const char* instanceId;   // with kHidWalkInstanceIds its device's instance id; else, or when unknown, empty
    // Opened as tolvaren opens its lamp (reading and writing, shared), else
    // with no access rights, which still reads the ids of a device another
    // program holds; INVALID_HANDLE_VALUE when neither worked or when the
    // walk was not asked to open. openError: why the first way failed.
    HANDLE device;
    DWORD openError;
};

// Returns false to end the walk.
typedef bool (*HidInterfaceVisitor)(const HidInterfaceInfo& info, void* context);

enum HidWalkEnd {
    kHidWalkDone,      // every interface was visited
    kHidWalkStopped,   // the visitor ended it
    kHidWalkNoList,    // the system gave no list of HID interfaces; error says why
    kHidWalkCutShort,  // the interface at errorIndex could not be read; error says why
};

struct HidWalkProblem {
    DWORD error;
    DWORD errorIndex;
};

// What the visitor is given beside the path.
enum HidWalkWants : unsigned {
    kHidWalkPaths = 0,
    kHidWalkOpenDevices = 1u << 0,
    kHidWalkInstanceIds = 1u << 1,
};

HidWalkEnd WalkHidInterfaces(unsigned wants, HidInterfaceVisitor visit, void* context, HidWalkProblem* problem);
