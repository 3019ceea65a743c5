#pragma once

// Live samples waiting for the analysis: a ring of bytes that a reader fills
// as they come and the main loop empties. When it is full, either the oldest
// bytes make room (live input: the newest sound is what counts) or the
// writer puts only what fits and waits for room (--print: every sample
// counts).

#include <cstdint>

#include "tools/tolvaren-vis/pcm_reader.h"
#include "tools/tolvaren-vis/vis_engine.h"

enum : uint32_t {
    // A second of the richest format read, 96 kHz stereo float.
    kVisRingBytes = kPcmRateMax * kPcmFrameBytesMax,
};

// All that waits in the ring counts as one live read, so that it must hold
// a live buffer's worth of any format.
static_assert(kVisRingBytes / kPcmFrameBytesMax * 1000ull / kPcmRateMax >= kVisLiveBufferMs,
              "the ring holds less than a live buffer");

struct VisRing {
    uint8_t bytes[kVisRingBytes];
    uint32_t head;     // where the oldest byte is
    uint32_t count;
    uint64_t overrun;  // bytes dropped to make room
};

void StartRing(VisRing* ring);
// Puts count bytes after the newest; where they don't fit, the oldest
// bytes make room, counted in overrun.
void PutOverOldest(VisRing* ring, const uint8_t* bytes, uint32_t count);
// Puts what fits of count bytes; returns how many that was.
uint32_t PutWhatFits(VisRing* ring, const uint8_t* bytes, uint32_t count);
// Takes the oldest bytes, up to size, into out; returns how many.
uint32_t TakeOldest(VisRing* ring, uint8_t* out, uint32_t size);
// Throws away the oldest bytes, up to count; returns how many.
uint32_t DropOldest(VisRing* ring, uint64_t count);
