#include "support/FakeWMIClient.h"

#include <fstream>

#include <nlohmann/json.hpp>

#include "wmi/WMIClient.h"

namespace qz::test {

FakeWmiScript& FakeWmi() {
    static FakeWmiScript script;
    return script;
}

std::vector<FakeRow> FullSettings() {
    std::vector<FakeRow> rows;
    for (const auto& row : nlohmann::json::parse(std::ifstream(QZBIOS_SAMPLE_CAPTURE))) {
        rows.push_back({row.at("Name").get<std::string>(), row.at("Value").get<std::string>()});
    }
    return rows;
}

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
    test::LogCall("Query", &query);
    m_state->queried = test::FakeWmi().queryStatus >= 0;
    m_state->next = 0;
    return test::FakeWmi().queryStatus;
}

bool WMIClient::GetNext() {
    test::LogCall("GetNext");
    const std::vector<test::FakeRow>& rows = test::FakeWmi().rows;
    m_state->current =
        m_state->queried && m_state->next < rows.size() ? &rows[m_state->next++] : nullptr;
    return m_state->current != nullptr;
}

std::int32_t WMIClient::GetValue(const std::wstring& property, const char** value) {
    test::LogCall("GetValue", &property);
    const test::FakeRow* row = m_state->current;
    const std::optional<std::string>* text = row == nullptr        ? nullptr
                                             : property == L"Name" ? &row->name
                                                                   : &row->value;
    *value = text != nullptr && *text ? (*text)->c_str() : nullptr;
    return *value != nullptr ? 0 : -1;
}

}  // namespace qz::shared::wmi
