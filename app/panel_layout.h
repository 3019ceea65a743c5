#pragma once

#include <cstdint>

// Geometry of the main window and its lamp panel, in pixels.
enum : int {
    kMainWindowWidth = 266,   // outer size, whatever the frame takes
    kMainWindowHeight = 113,
    kLampColumns = 8,
    kLampSize = 32,
    kUpperRowTop = 20,
    kLowerRowTop = 52,
    kPanelWidth = kLampColumns * kLampSize,
    kPanelHeight = kLowerRowTop + kLampSize,
};

struct LampBox {
    int left, top, right, bottom;
};

// Row 0 is the upper row (lampsLow), row 1 the lower one (lampsHigh);
// column 0 is the leftmost lamp.
LampBox LampBoxAt(int row, int column);

// Column c shows bit 7 - c: the leftmost lamp is the most significant bit.
bool LampLit(uint8_t rowBits, int column);

// The window is centred on a width of 246, not its own 266: it sits ten
// pixels right of centre, as it always has.
int MainWindowLeft(int fullScreenWidth);
int MainWindowTop(int fullScreenHeight);
