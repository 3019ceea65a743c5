#pragma once

// Live capture of what is playing, through the Windows audio session API:
// the loopback stream of the default output where the system has one, else
// a capture endpoint that carries the output, such as PulseAudio's
// "Monitor of ..." sources under Wine.

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "tools/tolvaren-vis/pcm_reader.h"

struct IAudioClient;
struct IAudioCaptureClient;

enum : unsigned {
    kCaptureNameMax = 128,    // characters of an endpoint's name
    kCaptureErrorMax = 512,   // room for a message with its NUL
    kCaptureChunkBytes = 8192,
};

struct CaptureStream {
    IAudioClient* client;
    IAudioCaptureClient* capture;
    bool comStarted;
    bool loopback;        // the default output's own stream
    PcmFormat format;     // what is handed on: at most two channels
    uint32_t channelsIn;  // what the endpoint delivers
    uint32_t bytesPerSampleIn;
    char name[3 * kCaptureNameMax];  // the endpoint's name, in the console's code page
    char note[kCaptureErrorMax];     // why loopback was not used, when it was not
    uint8_t chunk[kCaptureChunkBytes];
};

// Opens the stream to capture: with device nullptr the default output's
// loopback, or where the system has none, the first capture endpoint whose
// name begins with "Monitor of"; with a device text, the capture endpoint
// whose name contains it (letter case aside). False with a message that
// says what went wrong and what to do.
bool OpenCapture(CaptureStream* stream, const char* device, char* error);

// Hands on what has been captured since the last call: sound as raw bytes
// of stream->format, silence as a count of frames. Returns false with a
// message when the stream failed (the endpoint went away).
typedef void (*CaptureBytesSink)(void* context, const void* bytes, size_t count);
typedef void (*CaptureSilenceSink)(void* context, uint32_t frames);
bool ReadCapture(CaptureStream* stream, CaptureBytesSink onBytes, CaptureSilenceSink onSilence, void* context,
                 char* error);

// Frames captured and waiting to be read.
uint32_t CaptureFramesWaiting(CaptureStream* stream);

void CloseCapture(CaptureStream* stream);

// Lists the output and capture endpoints with their names, for --device.
// Returns false with a message when they can't be listed.
bool ListCaptureDevices(char* error);
