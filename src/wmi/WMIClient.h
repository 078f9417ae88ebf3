// The WMI client that the BIOS settings query runs through. It belongs to the sibling library
// qz-shared-wmi-client; this library calls nothing of it but what is declared here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#if defined(_WIN32)
#if defined(QZ_WMI_CLIENT_BUILDING)
#define QZ_WMI_CLIENT_API __declspec(dllexport)
#else
#define QZ_WMI_CLIENT_API
#endif
#else
#define QZ_WMI_CLIENT_API __attribute__((visibility("default")))
#endif

namespace qz::shared::wmi {

// One query against one WMI namespace, read forward one row at a time. No operation throws: a
// failure is a negative status, or GetNext returning false.
class QZ_WMI_CLIENT_API WMIClient {
public:
    // Binds the client to a namespace such as L"\\\\.\\root\\cimv2".
    explicit WMIClient(const std::wstring& wmiNamespace);
    virtual ~WMIClient();

    WMIClient(const WMIClient&) = delete;
    WMIClient& operator=(const WMIClient&) = delete;

    // Runs a WQL query. Returns 0 on success and a negative status on failure; after a failure
    // GetNext returns false.
    virtual std::int32_t Query(const std::wstring& query);

    // Makes the next row current: the first call after Query the first row. False when there is
    // no further row, or when the query failed.
    virtual bool GetNext();

    // Reads a string property of the current row. On success `*value` points to its
    // NUL-terminated narrow text, owned by the client and valid until the next call on it, and the
    // result is 0. When the property cannot be read (no such property, not a string, null, no
    // current row) `*value` is set to null and the result is negative.
    virtual std::int32_t GetValue(const std::wstring& property, const char** value);

    // What ended the rows of the last query: 0 while rows come, and when they ended as they
    // should; the failure the provider reported while they came, or WBEM_S_TIMEDOUT (0x40004)
    // when they did not all come in time.
    std::int32_t RowsStatus() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace qz::shared::wmi
