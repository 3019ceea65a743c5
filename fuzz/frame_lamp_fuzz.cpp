// The pipe's byte stream, cut into chunks of any size, through the framing
// into the real lamp control on the recording platform of the unit tests.
//
// Input: byte 0 picks how many of the following bytes give chunk sizes (low
// three bits, plus one) and whether a device is open (bit 3); the rest is the
// stream, cut into chunks of those sizes, 0 to 18 bytes, in turn.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fake_lamp_platform.h"
#include "fuzz_support.h"
#include "lamps/lamp_control.h"
#include "lamps/lamp_identity.h"
#include "pipe/line_framing.h"

namespace {

char deviceStandIn;  // its address is the open device
void* const kDevice = &deviceStandIn;  // a LampDevice
const size_t kChunkMax = LAMP_PIPE_CHUNK_BYTES;

// The line a chunk should hand over, from the description of the framing:
// the first '>' and what follows it, when a line feed comes within the next
// eight bytes; the text ends at a NUL inside it.
bool ModelLine(const std::vector<char>& chunk, std::string* line)
{
    const auto open = std::find(chunk.begin(), chunk.end(), '>');
    if (open == chunk.end()) return false;
    const size_t start = static_cast<size_t>(open - chunk.begin());
    for (size_t i = start + 1; i < chunk.size() && i <= start + 8; ++i) {
        if (chunk[i] == '\n') {
            const std::string bytes(chunk.data() + start, i - start);
            *line = bytes.substr(0, bytes.find('\0'));
            return true;
        }
    }
    return false;
}

int linesHanded = 0;
std::string lineHanded;

void CheckAndProcess(const char* line)
{
    ++linesHanded;
    FUZZ_CHECK(linesHanded == 1);
    FUZZ_CHECK(std::strlen(line) <= 8);
    FUZZ_CHECK(line[0] == '>');
    lineHanded = line;
    ProcessLampLine(line);
}

void CheckChunk(const std::vector<char>& chunk, bool deviceOpen)
{
    const LampState before = TakeLampSnapshot();
    const int repaintsBefore = RecordedPlatform().repaints;
    linesHanded = 0;
    FrameChunkTo(chunk.data(), static_cast<unsigned>(chunk.size()), CheckAndProcess);
    const LampState after = TakeLampSnapshot();
    const std::vector<SentReport> sends = TakeRecordedSends();

    std::string expectedLine;
    const bool lineDue = ModelLine(chunk, &expectedLine);
    FUZZ_CHECK(linesHanded == (lineDue ? 1 : 0));
    FUZZ_CHECK(RecordedPlatform().repaints == repaintsBefore + linesHanded);
    if (!lineDue) {
        FUZZ_CHECK(std::memcmp(&before, &after, sizeof before) == 0);
        FUZZ_CHECK(sends.empty());
        return;
    }
    FUZZ_CHECK(lineHanded == expectedLine);
    FUZZ_CHECK(expectedLine == after.text);

    uint32_t value = 0;
    const bool lampCommand = expectedLine.size() >= 3 && expectedLine[0] == '>' &&
                             (expectedLine[1] == '5' || expectedLine[1] == '3') &&
                             expectedLine[2] == 'L' &&
                             ReferenceScanHexX(expectedLine.substr(3), &value);
    if (!lampCommand) {
        FUZZ_CHECK(after.lampsLow == before.lampsLow && after.lampsHigh == before.lampsHigh);
        FUZZ_CHECK(sends.empty());
        return;
    }
    FUZZ_CHECK(after.lampsLow == (value & 0xFFu));
    FUZZ_CHECK(after.lampsHigh == ((value >> 8) & 0xFFu));
    FUZZ_CHECK(sends.size() == (deviceOpen ? 1u : 0u));
    if (sends.empty()) return;
    const uint8_t expected[7] = {1, 0, after.lampsLow, after.lampsHigh, 0, 0, 0};
    FUZZ_CHECK(sends[0].device == kDevice);
    FUZZ_CHECK(std::memcmp(sends[0].report.bytes, expected, sizeof expected) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const size_t sizeCount = (data[0] & 7u) + 1;
    const bool deviceOpen = (data[0] & 8u) == 0;
    if (size < 1 + sizeCount) return 0;
    const uint8_t* sizes = data + 1;
    const uint8_t* stream = data + 1 + sizeCount;
    const size_t streamSize = size - 1 - sizeCount;

    bool allEmpty = true;
    for (size_t i = 0; i < sizeCount; ++i) allEmpty = allEmpty && sizes[i] % (kChunkMax + 1) == 0;

    ResetLampControl();
    if (deviceOpen) SetLampDevice(kDevice);

    size_t offset = 0;
    for (size_t n = 0; offset < streamSize || n == 0; ++n) {
        size_t length = allEmpty ? kChunkMax : sizes[n % sizeCount] % (kChunkMax + 1);
        if (length > streamSize - offset) length = streamSize - offset;
        // Each chunk in a buffer of its own size, so that a read past its
        // count is caught.
        const std::vector<char> chunk(stream + offset, stream + offset + length);
        CheckChunk(chunk, deviceOpen);
        offset += length;
    }
    return 0;
}
