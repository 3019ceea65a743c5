#include "tools/tolvaren-vis/vis_ring.h"

#include <cstring>

namespace {

// Copies count bytes in at the ring's end, which has room for them.
void CopyIn(VisRing* ring, const uint8_t* bytes, uint32_t count)
{
    const uint32_t at = (ring->head + ring->count) % kVisRingBytes;
    const uint32_t first = count < kVisRingBytes - at ? count : kVisRingBytes - at;
    std::memcpy(ring->bytes + at, bytes, first);
    std::memcpy(ring->bytes, bytes + first, count - first);
    ring->count += count;
}

}  // namespace

void StartRing(VisRing* ring)
{
    ring->head = 0;
    ring->count = 0;
    ring->overrun = 0;
}

void PutOverOldest(VisRing* ring, const uint8_t* bytes, uint32_t count)
{
    if (count > kVisRingBytes) {
        ring->overrun += count - kVisRingBytes;
        bytes += count - kVisRingBytes;
        count = kVisRingBytes;
    }
    const uint32_t room = kVisRingBytes - ring->count;
    if (count > room) ring->overrun += DropOldest(ring, count - room);
    CopyIn(ring, bytes, count);
}

uint32_t PutWhatFits(VisRing* ring, const uint8_t* bytes, uint32_t count)
{
    const uint32_t room = kVisRingBytes - ring->count;
    const uint32_t put = count < room ? count : room;
    CopyIn(ring, bytes, put);
    return put;
}

uint32_t TakeOldest(VisRing* ring, uint8_t* out, uint32_t size)
{
    const uint32_t count = ring->count < size ? ring->count : size;
    const uint32_t first = count < kVisRingBytes - ring->head ? count : kVisRingBytes - ring->head;
    std::memcpy(out, ring->bytes + ring->head, first);
    std::memcpy(out + first, ring->bytes, count - first);
    ring->head = (ring->head + count) % kVisRingBytes;
    ring->count -= count;
    return count;
}

uint32_t DropOldest(VisRing* ring, uint64_t count)
{
    const uint32_t dropped = count < ring->count ? static_cast<uint32_t>(count) : ring->count;
    ring->head = (ring->head + dropped) % kVisRingBytes;
    ring->count -= dropped;
    return dropped;
}
