// A WMIClient for the library's tests that is strict about names: it serves the rows of FakeRows()
// to a client of "\\.\root\QZ\InstrumentedBios" running "SELECT * FROM QZ_BIOSSetting", and reads
// the properties "Name" and "Value" only, each matched byte for byte. Any other name reads nothing.
#pragma once

#include <vector>

#include "sources/Reading.h"

namespace qz::test {

// A row with its Name and Value, either of which may be unreadable (nullopt).
using FakeRow = shared::sources::SettingRow;

// The rows every WMIClient of the process serves. Set them at the start of a test.
std::vector<FakeRow>& FakeRows();

// The rows of examples/captures/sample.json: a machine that publishes the 31 settings the library
// reads, in its order, then a few that it does not read.
std::vector<FakeRow> FullSettings();

}  // namespace qz::test
