#pragma once

#include <cstdint>

namespace qz::shared::wmi {

// Statuses as WMI itself reports them, so that a caller sees the same codes on every platform.
constexpr std::int32_t kWbemOk = 0;
constexpr std::int32_t kWbemFailed = static_cast<std::int32_t>(0x80041001u);
constexpr std::int32_t kWbemNotFound = static_cast<std::int32_t>(0x80041002u);
constexpr std::int32_t kWbemOutOfMemory = static_cast<std::int32_t>(0x80041006u);
constexpr std::int32_t kWbemInvalidNamespace = static_cast<std::int32_t>(0x8004100Eu);
constexpr std::int32_t kWbemInvalidQuery = static_cast<std::int32_t>(0x80041017u);

}  // namespace qz::shared::wmi
