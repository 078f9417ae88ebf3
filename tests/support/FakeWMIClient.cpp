#include "support/FakeWMIClient.h"

#include <fstream>

#include <nlohmann/json.hpp>

#include "wmi/WMIClient.h"

namespace qz::test {

std::vector<FakeRow>& FakeRows() {
    static std::vector<FakeRow> rows;
    return rows;
}

std::vector<FakeRow> FullSettings() {
    std::vector<FakeRow> rows;
    for (const auto& row : nlohmann::json::parse(std::ifstream(QZBIOS_SAMPLE_CAPTURE))) {
        rows.push_back({row.at("Name").get<std::string>(), row.at("Value").get<std::string>()});
    }
    return rows;
}

}  // namespace qz::test

namespace qz::shared::wmi {

struct WMIClient::State {
    bool bound = false;    // to the settings' namespace
    bool queried = false;  // for the settings
    std::size_t next = 0;
    const test::FakeRow* current = nullptr;
};

WMIClient::WMIClient(const std::wstring& wmiNamespace)
    : m_state(new State{wmiNamespace == L"\\\\.\\root\\QZ\\InstrumentedBios"}) {}

WMIClient::~WMIClient() = default;

std::int32_t WMIClient::Query(const std::wstring& query) {
    m_state->queried = m_state->bound && query == L"SELECT * FROM QZ_BIOSSetting";
    m_state->next = 0;
    return m_state->queried ? 0 : -1;
}

bool WMIClient::GetNext() {
    const std::vector<test::FakeRow>& rows = test::FakeRows();
    m_state->current =
        m_state->queried && m_state->next < rows.size() ? &rows[m_state->next++] : nullptr;
    return m_state->current != nullptr;
}

std::int32_t WMIClient::GetValue(const std::wstring& property, const char** value) {
    const test::FakeRow* row = m_state->current;
    const std::optional<std::string>* text = row == nullptr         ? nullptr
                                             : property == L"Name"  ? &row->name
                                             : property == L"Value" ? &row->value
                                                                    : nullptr;
    *value = text != nullptr && *text ? (*text)->c_str() : nullptr;
    return *value != nullptr ? 0 : -1;
}

}  // namespace qz::shared::wmi
