#include "support/FakeWMIClient.h"

#include "wmi/WMIClient.h"

namespace qz::test {

namespace {

// Appends `call`, and the ASCII text of `argument` in parentheses when there is one, to the log.
void LogCall(const char* call, const std::wstring* argument = nullptr) {
    FakeWmiScript& script = FakeWmi();
    if (script.recordCalls) {
        std::string entry = call;
        if (argument != nullptr) {
            entry += '(' + std::string(argument->begin(), argument->end()) + ')';
        }
        script.calls.push_back(std::move(entry));
    }
}

}  // namespace

FakeWmiScript& FakeWmi() {
    static FakeWmiScript script;
    return script;
}

std::vector<FakeRow> FullSettings() {
    return {{"Runtime Power Management", "Disable,*Enable"},
            {"Idle Power Savings", "*Normal,Extended"},
            {"ACPI S3 PS2 Mouse Wake Up", "*Disable,Enable"},
            {"Unique Sleep State Blink Rates", "Disable,*Enable"},
            {"S5 Maximum Power Savings", "*Disable,Enable"},
            {"SATA Power Management", "Disable,*Enable"},
            {"Multi-processor", "Disable,*Enable"},
            {"Hyperthreading", "Disable,*Enable"},
            {"Integrated Video", "*Enable,Disable"},
            {"Turbo-boost", "Disable,*Enable"},
            {"Virtualization Technology (VTx)", "*Enable,Disable"},
            {"ME Firmware Version", "16.1.25.2049"},
            {"Active Management (AMT)", "Disable,*Enable"},
            {"Setup Password", "1"},
            {"Power-On Password", "0"},
            {"Ready BIOS for Device Guard User", "*Do Nothing,Reset"},
            {"Fast Boot", "*Disable,Enable"},
            {"USB Storage Boot", "Disable,*Enable"},
            {"Network (PXE) Boot", "*Enable,Disable"},
            {"Legacy Boot Order", "USB Floppy,USB CD-ROM,Network Controller"},
            {"UEFI Boot Order", "Windows Boot Manager,USB:,NETWORK IPV4"},
            {"Brimwatch BIOS Settings Protection", "Disable,*Enable"},
            {"Enhanced QZ Firmware Runtime Intrusion Prevention and Detection", "*Enable,Disable"},
            {"Brimwatch Security Event Policy", "*Local,Remote"},
            {"Virtualization Technology for Directed I/O (VTd)", "*Enable,Disable"},
            {"Fast Charge", "Disable,*Enable"},
            {"Dynamic Platform and Thermal Framework (DPTF)", "Disable,*Enable"},
            {"Video Memory Size", "32 MB,*64 MB,128 MB"},
            {"Battery Health Manager",
             "*Let the system manage my battery charging,Maximize my battery health"},
            {"LAN / WLAN Auto Switching", "*Disable,Enable"},
            {"LAN / WWAN Auto Switching", "Disable,*Enable"},
            {"Asset Tracking Number", "ZX-1204"},
            {"Num Lock State at Power-On", "*Off,On"}};
}

}  // namespace qz::test

namespace qz::shared::wmi {

struct WMIClient::State {
    std::size_t next = 0;
    bool queried = false;
    const test::FakeRow* current = nullptr;
};

WMIClient::WMIClient(const std::wstring& wmiNamespace) : m_state(new State) {
    test::LogCall("WMIClient", &wmiNamespace);
}

WMIClient::~WMIClient() { test::LogCall("~WMIClient"); }

std::int32_t WMIClient::Query(const std::wstring& query) {
    auto& script = test::FakeWmi();
    test::LogCall("Query", &query);
    m_state->queried = script.queryStatus >= 0;
    m_state->next = 0;
    return script.queryStatus;
}

bool WMIClient::GetNext() {
    auto& script = test::FakeWmi();
    test::LogCall("GetNext");
    if (!m_state->queried || m_state->next >= script.rows.size()) {
        m_state->current = nullptr;
        return false;
    }
    m_state->current = &script.rows[m_state->next++];
    return true;
}

std::int32_t WMIClient::GetValue(const std::wstring& property, const char** value) {
    test::LogCall("GetValue", &property);
    *value = nullptr;
    if (m_state->current == nullptr) {
        return -1;
    }
    const auto& text = property == L"Name" ? m_state->current->name : m_state->current->value;
    if (!text) {
        return -1;
    }
    *value = text->c_str();
    return 0;
}

}  // namespace qz::shared::wmi
