#!/bin/sh
# Checks what Windows executables import: only Windows' own DLLs, so that
# they run with nothing installed beside them; and, with --loads-on-9x,
# none of the functions that Windows 9x lacks, so that the program still
# loads there far enough to say that it needs NT (a missing import would
# stop the loader before the program could show anything).
#   check-imports.sh OBJDUMP [--loads-on-9x] EXE...
set -eu
objdump=$1
shift
loads_on_9x=""
if [ "${1:-}" = "--loads-on-9x" ]; then
    loads_on_9x=yes
    shift
fi

# The DLLs every Windows since 95 and NT 4 has, as the tools and the
# program use them.
windows_dlls="kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll shlwapi.dll
setupapi.dll hid.dll ole32.dll oleaut32.dll shell32.dll comctl32.dll version.dll
winmm.dll ws2_32.dll"

# Synchronisation and time functions of the NT family only: the ones a
# lock, an event or a clock in the program's code could pull in.
nt_only="TryEnterCriticalSection InitializeCriticalSectionEx InitializeCriticalSectionAndSpinCount
InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared
InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce InitOnceBeginInitialize
InitOnceComplete SignalObjectAndWait CreateEventExA CreateEventExW CreateMutexExA
CreateMutexExW CreateSemaphoreExA CreateSemaphoreExW CreateWaitableTimerExW WaitOnAddress
GetTickCount64 GetSystemTimePreciseAsFileTime GetFileSizeEx SetFilePointerEx FlsAlloc
FlsGetValue FlsSetValue FlsFree CancelIoEx QueueUserWorkItem CreateTimerQueueTimer"

status=0
for exe in "$@"; do
    if [ ! -f "$exe" ]; then
        echo "check-imports.sh: $exe is missing; build it first" >&2
        status=1
        continue
    fi
    # "DLL Name: X" starts each DLL's list; its functions follow as
    # "vma hint name" lines.
    imports=$("$objdump" -p "$exe" | awk '
        /^\tDLL Name: / { dll = tolower($3); print "dll " dll; next }
        /^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+[A-Za-z_]/ && dll != "" { print "fn " $3 }')
    if [ -z "$imports" ]; then
        echo "check-imports.sh: $objdump found no import table in $exe" >&2
        status=1
        continue
    fi
    for dll in $(echo "$imports" | sed -n 's/^dll //p'); do
        case " $(echo $windows_dlls) " in
        *" $dll "*) ;;
        *)
            echo "check-imports.sh: $exe imports $dll, which is not part of Windows;" \
                 "link it statically (-static) or drop the dependency" >&2
            status=1
            ;;
        esac
    done
    if [ -n "$loads_on_9x" ]; then
        for fn in $(echo "$imports" | sed -n 's/^fn //p'); do
            case " $(echo $nt_only) " in
            *" $fn "*)
                echo "check-imports.sh: $exe imports $fn, which Windows 9x lacks: it would" \
                     "not load there to show its refusal box; use a critical section or an" \
                     "event instead" >&2
                status=1
                ;;
            esac
        done
    fi
    [ $status -eq 0 ] && echo "check-imports.sh: $exe imports only Windows' own DLLs$( [ -n "$loads_on_9x" ] && echo ", nothing NT-only")"
done
exit $status
