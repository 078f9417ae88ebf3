// A scripted WMIClient for the library's tests: it serves the rows of FakeWmi() and writes every
// call it receives to FakeWmi().calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz::test {

struct FakeRow {
    std::optional<std::string> name;   // nullopt: the property cannot be read
    std::optional<std::string> value;  // nullopt: the property cannot be read
};

struct FakeWmiScript {
    std::vector<FakeRow> rows;
    std::int32_t queryStatus = 0;
    // One entry per call, such as "WMIClient(\\.\root\cimv2)", "Query(SELECT ...)", "GetNext",
    // "GetValue(Name)", "~WMIClient", while recordCalls is set. Tests that make allocations fail
    // or run several threads turn recording off: a real client neither throws nor shares state.
    std::vector<std::string> calls;
    bool recordCalls = true;
};

// The script every WMIClient of the process follows. Reset it at the start of a test.
FakeWmiScript& FakeWmi();

// The rows of examples/captures/sample.json: a machine that publishes the 31 settings the library
// reads, in its order, then a few that it does not read.
std::vector<FakeRow> FullSettings();

}  // namespace qz::test
