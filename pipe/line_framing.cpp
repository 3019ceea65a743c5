#include "pipe/line_framing.h"

#include "lamps/lamp_control.h"

void FrameChunkTo(const char* chunk, unsigned count, LineSink sink)
{
    char line[kLampLineMax + 1];
    unsigned length = 0;  // 0: no line open

    for (unsigned i = 0; i < count; ++i) {
        const char byte = chunk[i];
        if (length == 0) {
            if (byte == '>') line[length++] = byte;
            continue;
        }
        if (byte == '\n') {
            line[length] = '\0';
            sink(line);
            return;
        }
        line[length++] = byte;
        // Too long for a line: drop it and whatever else the chunk holds.
        if (length == sizeof line) return;
    }
}

void FrameChunk(const char* chunk, unsigned count)
{
    FrameChunkTo(chunk, count, ProcessLampLine);
}
