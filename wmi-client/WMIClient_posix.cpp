// The WMI client on systems without WMI: it answers the BIOS settings query from a capture file
// named by QZ_WMI_CAPTURE or else from the kernel's firmware-attributes class (the variables count
// only in a process without elevated privileges), and every other namespace or query with a
// failure.
#include <cwctype>
#include <memory>
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

// What a tool handed over. Guarded: hosts may query on several threads.
struct SharedState {
    std::mutex lock;
    ServedRows served;
};

SharedState& Shared() {
    static SharedState shared;
    return shared;
}

}  // namespace

void ServeCaptureRows(ServedRows rows) noexcept {
    const std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().served = std::move(rows);
}

struct WMIClient::State {
    bool biosNamespace = false;
    ServedRows rows;
    std::size_t next = 0;
    const CaptureRow* current = nullptr;
};

WMIClient::WMIClient(const std::wstring& wmiNamespace) : m_state(new (std::nothrow) State) {
    if (m_state) {
        m_state->biosNamespace = EqualsIgnoringCase(wmiNamespace, kBiosNamespace);
    }
}

WMIClient::~WMIClient() = default;

namespace {

// The rows of the settings query from the capture the environment names, else from the
// firmware-attributes tree, and the status. A host learns nothing more of a failure: the library
// then reports every attribute empty.
std::int32_t ReadSettings(std::vector<CaptureRow>& rows) {
    std::string refusal;
    if (const char* capture = SettingsVariable("QZ_WMI_CAPTURE"); capture != nullptr) {
        if (!LoadCaptureFile(capture, rows, refusal)) {
            rows.clear();
            return kWbemFailed;
        }
        return kWbemOk;
    }
    std::vector<std::string> devices;
    UnreadableValues unreadable;
    if (!ReadFirmwareAttributes(FirmwareAttributesRoot(), rows, devices, unreadable, refusal)) {
        rows.clear();
        return kWbemOutOfMemory;
    }
    if (!refusal.empty()) {
        return kWbemFailed;
    }
    // Without a device the namespace does not exist on this machine.
    return devices.empty() ? kWbemInvalidNamespace : kWbemOk;
}

}  // namespace

std::int32_t WMIClient::Query(const std::wstring& query) {
    if (!m_state) {
        return kWbemOutOfMemory;
    }
    State& state = *m_state;
    state.rows.reset();
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
            if (Shared().served) {
                state.rows = Shared().served;
                return kWbemOk;
            }
        }
        std::vector<CaptureRow> rows;
        const std::int32_t status = ReadSettings(rows);
        state.rows = std::make_shared<const std::vector<CaptureRow>>(std::move(rows));
        return status;
    } catch (const std::bad_alloc&) {
        // Only the paths handed to the readers, and the rows' holder, can fail here; the readers
        // themselves never throw.
        state.rows.reset();
        return kWbemOutOfMemory;
    }
}

bool WMIClient::GetNext() {
    if (!m_state || !m_state->rows || m_state->next >= m_state->rows->size()) {
        if (m_state) {
            m_state->current = nullptr;
        }
        return false;
    }
    m_state->current = &(*m_state->rows)[m_state->next++];
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
