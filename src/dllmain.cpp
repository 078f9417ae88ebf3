#include <windows.h>

#if defined(QZBIOS_DELAY_LOADS_CLIENT)
#include "wmi/SiblingClient.h"
#endif

// The library has no threads of its own and nothing to do per thread, so it asks not to be told of
// threads. Windows refuses that to a DLL with thread-local storage, as the MinGW runtime gives
// one; the notifications then come, and are answered with success like every other.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
#if defined(QZBIOS_DELAY_LOADS_CLIENT)
        // Without its sibling client beside it the library does not load, as it would not with
        // the client imported at load time.
        wchar_t client[MAX_PATH] = {};
        return qz::shared::wmi::SiblingClientPath(client) ? TRUE : FALSE;
#endif
    }
    return TRUE;
}
