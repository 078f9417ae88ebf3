#include <windows.h>

// The library has no threads of its own and nothing to do per thread, so it asks not to be told of
// threads. Windows refuses that to a DLL with thread-local storage, as the MinGW runtime gives
// one; the notifications then come, and are answered with success like every other.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
