// The ring that live samples wait in: order kept across its end, and what
// goes when it is full.
#include <gtest/gtest.h>

#include <vector>

#include "tools/tolvaren-vis/vis_ring.h"

namespace {

// Bytes numbered from first, so that any byte out of place shows.
std::vector<uint8_t> Numbered(uint32_t first, uint32_t count)
{
    std::vector<uint8_t> bytes(count);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((first + i) % 251);
    return bytes;
}

std::vector<uint8_t> Take(VisRing* ring, uint32_t size)
{
    std::vector<uint8_t> out(size);
    out.resize(TakeOldest(ring, out.data(), size));
    return out;
}

TEST(VisRing, KeepsTheOrderAcrossItsEnd)
{
    std::vector<VisRing> ring(1);
    StartRing(&ring[0]);
    PutOverOldest(&ring[0], Numbered(0, kVisRingBytes - 10).data(), kVisRingBytes - 10);
    EXPECT_EQ(Take(&ring[0], kVisRingBytes - 20), Numbered(0, kVisRingBytes - 20));
    // 30 bytes that wrap around, after the 10 still waiting.
    EXPECT_EQ(PutWhatFits(&ring[0], Numbered(kVisRingBytes - 10, 30).data(), 30), 30u);
    EXPECT_EQ(ring[0].count, 40u);
    EXPECT_EQ(Take(&ring[0], 25), Numbered(kVisRingBytes - 20, 25));
    EXPECT_EQ(Take(&ring[0], 100), Numbered(kVisRingBytes + 5, 15));
    EXPECT_EQ(Take(&ring[0], 100).size(), 0u);
    EXPECT_EQ(ring[0].overrun, 0u);
}

TEST(VisRing, WhenFullTheOldestMakeRoomOrTheWriterWaits)
{
    const uint32_t cap = kVisRingBytes;
    struct {
        const char* what;
        uint32_t before, put;  // bytes in the ring, then put over the oldest
        uint64_t overrun;
    } const cases[] = {
        {"fits exactly", cap - 100, 100, 0},
        {"100 too many", cap, 100, 100},
        {"half full, more than the ring at once", cap / 2, cap + 7, cap / 2 + 7},
    };
    std::vector<VisRing> ring(1);
    for (const auto& c : cases) {
        StartRing(&ring[0]);
        PutOverOldest(&ring[0], Numbered(0, c.before).data(), c.before);
        PutOverOldest(&ring[0], Numbered(c.before, c.put).data(), c.put);
        EXPECT_EQ(ring[0].overrun, c.overrun) << c.what;
        // The newest stay, in order.
        const uint32_t kept = c.before + c.put < cap ? c.before + c.put : cap;
        EXPECT_EQ(Take(&ring[0], cap), Numbered(c.before + c.put - kept, kept)) << c.what;
    }

    // --print's writer puts only what fits, drops nothing, and puts the
    // rest once bytes were taken.
    StartRing(&ring[0]);
    const std::vector<uint8_t> bytes = Numbered(0, cap + 50);
    EXPECT_EQ(PutWhatFits(&ring[0], bytes.data(), cap + 50), cap);
    EXPECT_EQ(PutWhatFits(&ring[0], bytes.data() + cap, 50), 0u);
    EXPECT_EQ(Take(&ring[0], 60), Numbered(0, 60));
    EXPECT_EQ(PutWhatFits(&ring[0], bytes.data() + cap, 50), 50u);
    EXPECT_EQ(ring[0].overrun, 0u);
    EXPECT_EQ(DropOldest(&ring[0], cap - 60), cap - 60);
    EXPECT_EQ(Take(&ring[0], 100), Numbered(cap, 50));
    EXPECT_EQ(DropOldest(&ring[0], 1), 0u);
}

}  // namespace
