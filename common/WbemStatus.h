#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qz::shared::common {

// Statuses as WMI itself reports them, so that a caller sees the same codes on every platform.
constexpr std::int32_t kWbemOk = 0;
constexpr std::int32_t kWbemFailed = static_cast<std::int32_t>(0x80041001u);
constexpr std::int32_t kWbemNotFound = static_cast<std::int32_t>(0x80041002u);
constexpr std::int32_t kWbemOutOfMemory = static_cast<std::int32_t>(0x80041006u);
constexpr std::int32_t kWbemInvalidNamespace = static_cast<std::int32_t>(0x8004100Eu);
constexpr std::int32_t kWbemInvalidClass = static_cast<std::int32_t>(0x80041010u);
constexpr std::int32_t kWbemInvalidQuery = static_cast<std::int32_t>(0x80041017u);

// A status in words: its name and meaning where WMI or COM defines one a query meets, and always
// its code, as "WBEM_E_INVALID_NAMESPACE, the namespace does not exist (0x8004100E)".
inline std::string WbemStatusText(std::int32_t status) {
    struct Known {
        std::uint32_t code;
        const char* words;
    };
    static const Known kKnown[] = {
        {0x80041001u, "WBEM_E_FAILED, the call failed"},
        {0x80041002u, "WBEM_E_NOT_FOUND, the object was not found"},
        {0x80041003u, "WBEM_E_ACCESS_DENIED, access is denied"},
        {0x80041004u, "WBEM_E_PROVIDER_FAILURE, the provider failed"},
        {0x80041006u, "WBEM_E_OUT_OF_MEMORY, out of memory"},
        {0x8004100Au, "WBEM_E_CRITICAL_ERROR, WMI failed"},
        {0x8004100Eu, "WBEM_E_INVALID_NAMESPACE, the namespace does not exist"},
        {0x80041010u, "WBEM_E_INVALID_CLASS, the class does not exist"},
        {0x80041017u, "WBEM_E_INVALID_QUERY, the query is not valid"},
        {0x80041032u, "WBEM_E_CALL_CANCELLED, the call was cancelled"},
        {0x80041033u, "WBEM_E_SHUTTING_DOWN, WMI is shutting down"},
        {0x80070005u, "E_ACCESSDENIED, access is denied"},
        {0x800706BAu, "RPC_S_SERVER_UNAVAILABLE, the WMI service is not available"},
        {0x80040154u, "REGDB_E_CLASSNOTREG, WMI is not installed"},
        {0x00040004u, "WBEM_S_TIMEDOUT, WMI did not answer in time"},
    };
    char code[16] = {};
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    for (const Known& known : kKnown) {
        if (known.code == static_cast<std::uint32_t>(status)) {
            return std::string(known.words) + " (" + code + ")";
        }
    }
    return code;
}

}  // namespace qz::shared::common
