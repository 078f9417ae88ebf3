// The WMI client on systems without WMI: it answers the BIOS settings query from a capture file
// named by QZ_WMI_CAPTURE or else from the kernel's firmware-attributes class, and every other
// namespace or query with a failure.
#include <cstdlib>
#include <cwctype>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "CaptureFile.h"
#include "SettingsSource.h"
#include "WbemStatus.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

namespace {

const wchar_t kBiosNamespace[] = L"\\\\.\\root\\QZ\\InstrumentedBios";
const wchar_t kSettingsQuery[] = L"SELECT * FROM QZ_BIOSSetting";

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

// What a tool handed over, and what the last query could not read. Guarded: hosts may query on
// several threads.
struct SharedState {
    std::mutex lock;
    std::optional<std::vector<CaptureRow>> served;
    UnreadableValues unreadable;
};

SharedState& Shared() {
    static SharedState shared;
    return shared;
}

}  // namespace

void ServeCaptureRows(std::vector<CaptureRow> rows) noexcept {
    const std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().served = std::move(rows);
}

UnreadableValues LastQueryUnreadableValues() {
    const std::lock_guard<std::mutex> guard(Shared().lock);
    return Shared().unreadable;
}

struct WMIClient::State {
    bool biosNamespace = false;
    std::vector<CaptureRow> rows;
    std::size_t next = 0;
    const CaptureRow* current = nullptr;
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
    try {
        {
            const std::lock_guard<std::mutex> guard(Shared().lock);
            Shared().unreadable.clear();
            if (Shared().served) {
                state.rows = *Shared().served;
                return kWbemOk;
            }
        }
        if (const char* capture = std::getenv("QZ_WMI_CAPTURE"); capture && *capture != '\0') {
            std::string error;
            if (!LoadCaptureFile(capture, state.rows, error)) {
                state.rows.clear();
                return kWbemFailed;
            }
            return kWbemOk;
        }
        std::vector<std::string> devices;
        UnreadableValues unreadable;
        if (!ReadFirmwareAttributes(FirmwareAttributesRoot(), state.rows, devices, unreadable)) {
            state.rows.clear();
            return kWbemOutOfMemory;
        }
        const std::lock_guard<std::mutex> guard(Shared().lock);
        Shared().unreadable = std::move(unreadable);
        // Without a device the namespace does not exist on this machine.
        return devices.empty() ? kWbemInvalidNamespace : kWbemOk;
    } catch (const std::bad_alloc&) {
        // Only the paths handed to the readers can fail here; the readers themselves never throw.
        state.rows.clear();
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
