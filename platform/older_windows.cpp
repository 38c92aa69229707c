// Linked into qVORK.dll only. The runtime's thread library (winpthreads,
// which the static C++ runtime brings along) imports GetTickCount64, which
// Windows XP does not have: the loader would refuse the whole DLL there, for
// a function the plug-in never needs. The import is answered here instead:
// the system's function where there is one, else GetTickCount carried past
// its 49-day wrap.
#include <windows.h>

namespace {

ULONGLONG WINAPI TickCount64()
{
    typedef ULONGLONG(WINAPI * Function)(void);
    static Function system = reinterpret_cast<Function>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
    if (system != NULL)
        return system();
    static DWORD last;
    static ULONGLONG wraps;
    DWORD now = GetTickCount();
    if (now < last)
        wraps += 0x100000000ULL;
    last = now;
    return wraps + now;
}

} // namespace

// The import's own name, so the linker takes this before kernel32's.
extern "C" ULONGLONG(WINAPI *const QvorkTickCount64)(void) __asm__("__imp__GetTickCount64@0");
extern "C" ULONGLONG(WINAPI *const QvorkTickCount64)(void) = TickCount64;
