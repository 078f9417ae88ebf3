// The WMI client on systems without WMI: it answers the BIOS settings query with one reading (a
// capture file named by QZ_WMI_CAPTURE, or else the kernel's firmware-attributes class; the
// variables count only in a process without elevated privileges), and every other namespace or
// query with a failure.
#include <cwctype>
#include <new>
#include <optional>
#include <vector>

#include "common/WbemStatus.h"
#include "sources/Reading.h"
#include "wmi/SettingsQuery.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

namespace {

using namespace common;  // the WBEM statuses
using sources::SettingRow;

// WMI compares namespaces, class names and property names without regard to case.
bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towlower(static_cast<std::wint_t>(a[i])) !=
            std::towlower(static_cast<std::wint_t>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == L'\0';
}

}  // namespace

struct WMIClient::State {
    bool biosNamespace = false;
    std::vector<SettingRow> rows;
    std::size_t next = 0;
    const SettingRow* current = nullptr;
};

WMIClient::WMIClient(const std::wstring& wmiNamespace) : m_state(new (std::nothrow) State) {
    if (m_state) {
        m_state->biosNamespace = EqualsIgnoringCase(wmiNamespace, kBiosNamespace);
    }
}

WMIClient::~WMIClient() = default;

std::int32_t WMIClient::Query(const std::wstring& query) {
    if (!m_state) {
        return kWbemOutOfMemory;
    }
    State& state = *m_state;
    state.rows.clear();
    state.next = 0;
    state.current = nullptr;
    if (!state.biosNamespace) {
        return kWbemInvalidNamespace;
    }
    if (!EqualsIgnoringCase(query, kSettingsQuery)) {
        return kWbemInvalidQuery;
    }
    // The query of the library: the rows of the settings it reads, nothing else read.
    try {
        sources::Reading reading = sources::ReadSources(sources::RequestFromEnvironment());
        state.rows = std::move(reading.rows);
        return reading.status;
    } catch (const std::bad_alloc&) {
        return kWbemOutOfMemory;
    }
}

bool WMIClient::GetNext() {
    if (!m_state || m_state->next >= m_state->rows.size()) {
        if (m_state) {
            m_state->current = nullptr;
        }
        return false;
    }
    m_state->current = &m_state->rows[m_state->next++];
    return true;
}

std::int32_t WMIClient::RowsStatus() const { return m_state ? kWbemOk : kWbemOutOfMemory; }

std::int32_t WMIClient::GetValue(const std::wstring& property, const char** value) {
    *value = nullptr;
    if (!m_state || m_state->current == nullptr) {
        return kWbemFailed;
    }
    const std::optional<std::string>* text = nullptr;
    if (EqualsIgnoringCase(property, L"Name")) {
        text = &m_state->current->name;
    } else if (EqualsIgnoringCase(property, L"Value")) {
        text = &m_state->current->value;
    } else {
        return kWbemNotFound;
    }
    if (!text->has_value()) {
        return kWbemFailed;
    }
    *value = (*text)->c_str();
    return kWbemOk;
}

}  // namespace qz::shared::wmi
