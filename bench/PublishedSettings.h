// The settings a benchmark's machine publishes through the scripted WMI client.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "support/FakeWMIClient.h"

namespace qz::bench {

// The 31 settings the library reads, then settings it does not read up to `count` rows in all
// (firmware publishes a few hundred on a large machine).
inline std::vector<test::FakeRow> PublishedSettings(std::size_t count) {
    std::vector<test::FakeRow> rows = test::FullSettings();
    rows.resize(31);
    for (std::size_t i = rows.size(); i < count; ++i) {
        rows.push_back({"Vendor Setting " + std::to_string(i), "Disabled,*Enabled,Auto"});
    }
    return rows;
}

// Makes every WMIClient of the process serve `count` settings.
inline void PublishSettings(std::size_t count) { test::FakeRows() = PublishedSettings(count); }

}  // namespace qz::bench
