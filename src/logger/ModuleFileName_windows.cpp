#include <windows.h>

#include <cwchar>

#include "logger/ModuleFileName.h"

namespace qz::shared::common::logger {

plog::util::nstring ModuleFileName(const void* address) {
    constexpr DWORD kPathCapacity = 260;
    HMODULE module = nullptr;
    // From an address inside the module, without taking a reference on it.
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module) == 0) {
        return plog::util::nstring();
    }
    wchar_t path[kPathCapacity] = {};
    if (GetModuleFileNameW(module, path, kPathCapacity) == 0) {
        return plog::util::nstring();
    }
    // A longer path comes back cut to 259 characters and a NUL.
    return FileNameAfterLastSeparator(plog::util::nstring(path, wcsnlen(path, kPathCapacity)),
                                      L'\\');
}

}  // namespace qz::shared::common::logger
