#pragma once

// Which bands a spectrum frame lights, from the levels the analysis
// measured in it: each band's own recent range, the thresholds that light
// and put out its lamp, and the cap on lamps lit at once.

#include <cstdint>

#include "tools/tolvaren-vis/vis_analysis.h"

// Sets the rule's steps a frame, its thresholds and each band's range, for
// a new analysis.
void StartSpectrumLamps(VisAnalysis* analysis);

// The lamps of the frame that has just ended, from each active band's
// framePeak and the whole signal's; moves each band's range on by a frame.
uint16_t EndSpectrumFrame(VisAnalysis* analysis);
