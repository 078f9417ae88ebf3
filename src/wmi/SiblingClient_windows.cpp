// The library loads its sibling WMI client from its own folder, and from nowhere else: the client
// is delay-loaded, and the first call into it loads the DLL of that name beside the library by its
// full path, whatever the host's folder, current folder, PATH or DLL search settings. Windows would
// otherwise look for a DLL's imports along the process's search order, never beside the DLL.
#include <windows.h>

#include <delayimp.h>

#include <cstring>
#include <cwchar>

#include "wmi/SiblingClient.h"

namespace qz::shared::wmi {

namespace {

constexpr wchar_t kClient[] = L"qz-shared-wmi-client.dll";

}  // namespace

bool SiblingClientPath(wchar_t (&path)[MAX_PATH]) {
    HMODULE self = nullptr;
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&kClient), &self) == 0) {
        return false;
    }
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    wchar_t* slash = std::wcsrchr(path, L'\\');
    const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
    if (folder + std::wcslen(kClient) >= MAX_PATH) {
        return false;
    }
    std::wcscpy(path + folder, kClient);
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace qz::shared::wmi

namespace {

// Before the delay-load helper loads the client by its bare name along the search order, it is
// given the client beside the library. Without one there, it is given the library itself, which
// exports none of the client's functions: the call into the client then fails, and nothing found
// along the search order is ever loaded.
FARPROC WINAPI LoadBesideTheLibrary(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary ||
        _stricmp(info->szDll, "qz-shared-wmi-client.dll") != 0) {
        return nullptr;
    }
    wchar_t path[MAX_PATH] = {};
    HMODULE client = qz::shared::wmi::SiblingClientPath(path)
                         ? LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                         : nullptr;
    if (client == nullptr) {
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&LoadBesideTheLibrary), &client);
    }
    return reinterpret_cast<FARPROC>(client);
}

}  // namespace

// The delay-load helper asks this hook first; the runtime's own, which does nothing, is then not
// linked in.
PfnDliHook __pfnDliNotifyHook2 = LoadBesideTheLibrary;
