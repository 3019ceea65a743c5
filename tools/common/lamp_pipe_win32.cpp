#include "tools/common/lamp_pipe_win32.h"

#include "pipe/pipe_name.h"

LampPipeOpening OpenLampPipe(HANDLE* pipe, DWORD* error)
{
    *pipe = CreateFileA(kLampPipeName, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    *error = *pipe == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (*pipe != INVALID_HANDLE_VALUE) return kLampPipeOpen;
    if (*error == ERROR_FILE_NOT_FOUND) return kLampPipeMissing;
    if (*error == ERROR_PIPE_BUSY) return kLampPipeBusy;
    return kLampPipeFailed;
}

bool WriteLampPipeLine(HANDLE pipe, const char* bytes, unsigned length, DWORD* error)
{
    DWORD written = 0;
    BOOL ok = WriteFile(pipe, bytes, length, &written, NULL);
    if (ok) ok = FlushFileBuffers(pipe);
    if (ok && written == length) return true;
    *error = ok ? ERROR_WRITE_FAULT : GetLastError();
    return false;
}
