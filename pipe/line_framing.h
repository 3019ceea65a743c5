#pragma once

// Cuts lines out of the pipe's byte stream. A line is '>' and at most 7
// further bytes other than a line feed, ended by a line feed. Each chunk is
// framed on its own: only the first line opened in it counts, and only when
// its line feed arrives in the same chunk. Nothing carries over to the next.

typedef void (*LineSink)(const char* line);

// Hands the chunk's line, if any, to sink as a NUL-terminated text.
void FrameChunkTo(const char* chunk, unsigned count, LineSink sink);

// Hands the chunk's line, if any, to ProcessLampLine.
void FrameChunk(const char* chunk, unsigned count);
