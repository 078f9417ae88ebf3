// The one WMI query the library runs, and the properties of its rows: what the library asks its
// WMI client, and what a client without WMI answers.
#pragma once

namespace qz::shared::wmi {

inline constexpr wchar_t kBiosNamespace[] = L"\\\\.\\root\\QZ\\InstrumentedBios";
inline constexpr wchar_t kSettingsQuery[] = L"SELECT * FROM QZ_BIOSSetting";
inline constexpr wchar_t kNameProperty[] = L"Name";
inline constexpr wchar_t kValueProperty[] = L"Value";

}  // namespace qz::shared::wmi
