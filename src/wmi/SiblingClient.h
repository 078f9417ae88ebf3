// Where the library finds its sibling WMI client on Windows: beside itself (SiblingClient_windows).
#pragma once

#if defined(_WIN32)
#include <windows.h>

namespace qz::shared::wmi {

// The full path of qz-shared-wmi-client.dll in the library's own folder; false when it cannot be
// made, or no such file is there.
bool SiblingClientPath(wchar_t (&path)[MAX_PATH]);

}  // namespace qz::shared::wmi
#endif
