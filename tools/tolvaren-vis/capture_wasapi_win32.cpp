#include "tools/tolvaren-vis/capture_wasapi_win32.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdio>
#include <cstring>

#include "tools/common/console_win32.h"
#include "tools/tolvaren-vis/vis_engine.h"

namespace {

// Declared here rather than taken from the SDK's libraries, which keep
// these in objects of their own.
const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
const GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// A live buffer in the system, in its 100 ns units: room enough that a busy
// moment loses nothing, and that the backlog rule sees a backlog, which
// keeps what is shown near the present.
const REFERENCE_TIME kBufferDuration = static_cast<REFERENCE_TIME>(kVisLiveBufferMs) * 10000;

template <typename T>
void Release(T** object)
{
    if (*object != NULL) (*object)->Release();
    *object = NULL;
}

// The audio errors have no system text: those are given by number only.
void SayHresult(char* error, const char* what, HRESULT result, const char* todo)
{
    char text[256];
    ErrorText(static_cast<DWORD>(result), text, sizeof text);
    const bool described = std::strcmp(text, kNoErrorText) != 0;
    std::snprintf(error, kCaptureErrorMax, "%s (error 0x%08lX%s%s)%s%s", what, static_cast<unsigned long>(result),
                  described ? ": " : "", described ? text : "", todo[0] != '\0' ? "; " : "", todo);
}

// The endpoint's name, in the console's code page; "" when it has none.
void EndpointName(IMMDevice* device, char* name, int size)
{
    name[0] = '\0';
    IPropertyStore* properties = NULL;
    // STGM_READ, which is 0; the SDK spells it with a lower-case l suffix.
    const DWORD readOnly = 0;
    if (FAILED(device->OpenPropertyStore(readOnly, &properties))) return;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(properties->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR &&
        value.pwszVal != NULL) {
        UINT codePage = GetConsoleOutputCP();
        if (codePage == 0) codePage = CP_ACP;
        if (WideCharToMultiByte(codePage, 0, value.pwszVal, -1, name, size, NULL, NULL) == 0) name[0] = '\0';
    }
    PropVariantClear(&value);
    properties->Release();
}

bool ContainsIgnoringCase(const char* text, const char* part)
{
    const size_t length = std::strlen(part);
    for (const char* at = text; *at != '\0'; ++at)
        if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, at, static_cast<int>(length), part,
                           static_cast<int>(length)) == CSTR_EQUAL)
            return true;
    return length == 0;
}

bool StartsWith(const char* text, const char* start)
{
    return std::strncmp(text, start, std::strlen(start)) == 0;
}

bool MakeEnumerator(IMMDeviceEnumerator** enumerator, char* error)
{
    const HRESULT result = CoCreateInstance(__uuidof(MMDeviceEnumerator), NULL, CLSCTX_ALL,
                                            __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator));
    if (SUCCEEDED(result)) return true;
    SayHresult(error, "the audio devices can't be reached", result,
               "check that the system's audio service runs (under Wine: that PulseAudio or ALSA works)");
    return false;
}

// What the stream hands on, from the endpoint's mix format; false when it
// is a kind of sample this program does not read.
bool TakeMixFormat(CaptureStream* stream, const WAVEFORMATEX* mix, char* error)
{
    bool isFloat = mix->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool isPcm = mix->wFormatTag == WAVE_FORMAT_PCM;
    if (mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE && mix->cbSize >= 22) {
        const WAVEFORMATEXTENSIBLE* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mix);
        isFloat = IsEqualGUID(extensible->SubFormat, kSubtypeFloat) != FALSE;
        isPcm = IsEqualGUID(extensible->SubFormat, kSubtypePcm) != FALSE;
    }
    if (isFloat && mix->wBitsPerSample == 32) {
        stream->format.encoding = kPcmF32;
    } else if (isPcm && mix->wBitsPerSample == 16) {
        stream->format.encoding = kPcmS16;
    } else {
        std::snprintf(error, kCaptureErrorMax,
                      "\"%s\" delivers %u-bit samples of a kind tolvaren-vis does not read (it takes "
                      "16-bit integer or 32-bit float); pick another with --device",
                      stream->name, static_cast<unsigned>(mix->wBitsPerSample));
        return false;
    }
    if (mix->nChannels < 1 || mix->nSamplesPerSec < kPcmRateMin || mix->nSamplesPerSec > kPcmRateMax) {
        std::snprintf(error, kCaptureErrorMax,
                      "\"%s\" delivers %u channels at %lu Hz, which tolvaren-vis does not read (it takes "
                      "%lu to %lu Hz); set the device to another rate, or pick another with --device",
                      stream->name, static_cast<unsigned>(mix->nChannels),
                      static_cast<unsigned long>(mix->nSamplesPerSec), static_cast<unsigned long>(kPcmRateMin),
                      static_cast<unsigned long>(kPcmRateMax));
        return false;
    }
    stream->channelsIn = mix->nChannels;
    stream->bytesPerSampleIn = mix->wBitsPerSample / 8;
    // Of more channels, the first two are the front left and right.
    stream->format.channels = mix->nChannels >= 2 ? 2 : 1;
    stream->format.rate = mix->nSamplesPerSec;
    return true;
}

// Opens a stream on the endpoint; for a render endpoint its loopback.
HRESULT StartStream(CaptureStream* stream, IMMDevice* device, bool loopback, char* error)
{
    HRESULT result = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, NULL,
                                      reinterpret_cast<void**>(&stream->client));
    if (FAILED(result)) return result;
    WAVEFORMATEX* mix = NULL;
    result = stream->client->GetMixFormat(&mix);
    if (FAILED(result)) return result;
    if (!TakeMixFormat(stream, mix, error)) {
        CoTaskMemFree(mix);
        return E_FAIL;
    }
    result = stream->client->Initialize(AUDCLNT_SHAREMODE_SHARED, loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0,
                                        kBufferDuration, 0, mix, NULL);
    CoTaskMemFree(mix);
    if (FAILED(result)) return result;
    result = stream->client->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&stream->capture));
    if (FAILED(result)) return result;
    return stream->client->Start();
}

void StopStream(CaptureStream* stream)
{
    if (stream->client != NULL) stream->client->Stop();
    Release(&stream->capture);
    Release(&stream->client);
}

bool OpenLoopback(CaptureStream* stream, IMMDeviceEnumerator* enumerator, char* error)
{
    IMMDevice* output = NULL;
    HRESULT result = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &output);
    if (FAILED(result)) {
        SayHresult(stream->note, "there is no default output to capture", result, "");
        return false;
    }
    EndpointName(output, stream->name, sizeof stream->name);
    result = StartStream(stream, output, true, error);
    output->Release();
    if (SUCCEEDED(result)) return true;
    StopStream(stream);
    if (error[0] != '\0') return false;
    SayHresult(stream->note, "the default output's loopback can't be captured here", result,
               "a capture endpoint that carries the output is used instead");
    return false;
}

// The capture endpoint to use: the one whose name contains device, or
// without one the first "Monitor of ...".
bool OpenCaptureEndpoint(CaptureStream* stream, IMMDeviceEnumerator* enumerator, const char* device, char* error)
{
    IMMDeviceCollection* endpoints = NULL;
    HRESULT result = enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &endpoints);
    if (FAILED(result)) {
        SayHresult(error, "the capture devices can't be listed", result,
                   "check that the system's audio service runs");
        return false;
    }
    UINT count = 0;
    endpoints->GetCount(&count);
    IMMDevice* chosen = NULL;
    for (UINT i = 0; i < count && chosen == NULL; ++i) {
        IMMDevice* candidate = NULL;
        if (FAILED(endpoints->Item(i, &candidate))) continue;
        EndpointName(candidate, stream->name, sizeof stream->name);
        if (device != NULL ? ContainsIgnoringCase(stream->name, device) : StartsWith(stream->name, "Monitor of"))
            chosen = candidate;
        else
            candidate->Release();
    }
    endpoints->Release();
    if (chosen == NULL) {
        if (device != NULL)
            std::snprintf(error, kCaptureErrorMax,
                          "no capture device's name contains \"%.100s\"; run tolvaren-vis --list-devices to "
                          "see their names",
                          device);
        else
            std::snprintf(error, kCaptureErrorMax,
                          "%s, and no capture device's name begins with \"Monitor of\"; run tolvaren-vis "
                          "--list-devices and give the one that carries the output with --device",
                          stream->note);
        return false;
    }
    result = StartStream(stream, chosen, false, error);
    chosen->Release();
    if (SUCCEEDED(result)) return true;
    StopStream(stream);
    if (error[0] == '\0')
        SayHresult(error, "capturing from the chosen device failed", result,
                   "check that it is not in use without sharing, or pick another with --device");
    return false;
}

// Whole frames of at most two channels from the endpoint's frames.
size_t NarrowFrames(CaptureStream* stream, const BYTE* data, UINT32 frames, size_t done)
{
    const size_t sampleBytes = stream->bytesPerSampleIn;
    const size_t inFrame = sampleBytes * stream->channelsIn;
    const size_t outFrame = sampleBytes * stream->format.channels;
    size_t written = 0;
    for (size_t frame = done; frame < frames && written + outFrame <= sizeof stream->chunk; ++frame) {
        std::memcpy(stream->chunk + written, data + frame * inFrame, outFrame);
        written += outFrame;
    }
    return written;
}

}  // namespace

bool OpenCapture(CaptureStream* stream, const char* device, char* error)
{
    std::memset(stream, 0, sizeof *stream);
    error[0] = '\0';
    const HRESULT started = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    stream->comStarted = SUCCEEDED(started);
    IMMDeviceEnumerator* enumerator = NULL;
    if (!MakeEnumerator(&enumerator, error)) {
        CloseCapture(stream);
        return false;
    }
    bool ok = false;
    if (device == NULL) {
        ok = OpenLoopback(stream, enumerator, error);
        stream->loopback = ok;
    }
    if (!ok && error[0] == '\0') ok = OpenCaptureEndpoint(stream, enumerator, device, error);
    enumerator->Release();
    if (!ok) CloseCapture(stream);
    return ok;
}

bool ReadCapture(CaptureStream* stream, CaptureBytesSink onBytes, CaptureSilenceSink onSilence, void* context,
                 char* error)
{
    for (;;) {
        UINT32 packet = 0;
        HRESULT result = stream->capture->GetNextPacketSize(&packet);
        if (SUCCEEDED(result) && packet == 0) return true;
        BYTE* data = NULL;
        UINT32 frames = 0;
        DWORD flags = 0;
        if (SUCCEEDED(result)) result = stream->capture->GetBuffer(&data, &frames, &flags, NULL, NULL);
        if (FAILED(result)) {
            SayHresult(error, "capturing stopped", result,
                       "the device may have gone away; start tolvaren-vis again");
            return false;
        }
        if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == NULL) {
            onSilence(context, frames);
        } else if (stream->channelsIn == stream->format.channels) {
            onBytes(context, data, static_cast<size_t>(frames) * stream->bytesPerSampleIn * stream->channelsIn);
        } else {
            const size_t perChunk =
                sizeof stream->chunk / (static_cast<size_t>(stream->bytesPerSampleIn) * stream->format.channels);
            for (size_t done = 0; done < frames; done += perChunk)
                onBytes(context, stream->chunk, NarrowFrames(stream, data, frames, done));
        }
        stream->capture->ReleaseBuffer(frames);
    }
}

uint32_t CaptureFramesWaiting(CaptureStream* stream)
{
    UINT32 padding = 0;
    if (stream->client == NULL || FAILED(stream->client->GetCurrentPadding(&padding))) return 0;
    return padding;
}

void CloseCapture(CaptureStream* stream)
{
    StopStream(stream);
    if (stream->comStarted) CoUninitialize();
    stream->comStarted = false;
}

bool ListCaptureDevices(char* error)
{
    error[0] = '\0';
    const bool comStarted = SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED));
    IMMDeviceEnumerator* enumerator = NULL;
    bool ok = MakeEnumerator(&enumerator, error);
    for (int flow = 0; ok && flow < 2; ++flow) {
        const bool capture = flow == 1;
        IMMDeviceCollection* endpoints = NULL;
        const HRESULT result = enumerator->EnumAudioEndpoints(capture ? eCapture : eRender, DEVICE_STATE_ACTIVE,
                                                              &endpoints);
        if (FAILED(result)) {
            SayHresult(error, "the audio devices can't be listed", result, "check that the system's audio works");
            ok = false;
            break;
        }
        UINT count = 0;
        endpoints->GetCount(&count);
        Print(kToOut, "%s:\n", capture ? "Capture devices (for --device)" : "Outputs (captured by loopback)");
        if (count == 0) Print(kToOut, "  none\n");
        for (UINT i = 0; i < count; ++i) {
            IMMDevice* device = NULL;
            if (FAILED(endpoints->Item(i, &device))) continue;
            char name[3 * kCaptureNameMax];
            EndpointName(device, name, sizeof name);
            Print(kToOut, "  %s\n", name[0] != '\0' ? name : "(no name)");
            device->Release();
        }
        endpoints->Release();
    }
    if (enumerator != NULL) enumerator->Release();
    if (comStarted) CoUninitialize();
    return ok;
}
