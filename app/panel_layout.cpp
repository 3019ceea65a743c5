#include "app/panel_layout.h"

LampBox LampBoxAt(int row, int column)
{
    const int top = row == 0 ? kUpperRowTop : kLowerRowTop;
    const int left = column * kLampSize;
    return LampBox{left, top, left + kLampSize, top + kLampSize};
}

bool LampLit(uint8_t rowBits, int column)
{
    return ((rowBits >> (7 - column)) & 1u) != 0;
}

int MainWindowLeft(int fullScreenWidth)
{
    return (fullScreenWidth - 246) / 2;
}

int MainWindowTop(int fullScreenHeight)
{
    return (fullScreenHeight - kMainWindowHeight) / 2;
}
