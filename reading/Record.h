// The library's code over one reading, for qzbios-dump and the C interface: which row holds each
// setting, what the reading covers of the 31 settings the library reads (which the source
// publishes, which of those it could read, and how many other settings it holds), and the record
// the library makes of its rows.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bios/QZBiosImpl.h"
#include "sources/Reading.h"

namespace qz::shared::reading {

// A setting of a reading: its device ("" but for a tree, or when devices are not told apart) and
// its name.
using SettingKey = std::pair<std::string, std::string>;

// The row that holds each setting, as the library's settings query keeps them: a row without a
// name is skipped, and the last row of a name wins, a missing value included. With `byDevice`,
// settings of one name on different devices are told apart. Throws std::bad_alloc only.
std::map<SettingKey, std::size_t> LastRows(const sources::Reading& reading, bool byDevice);

struct Coverage {
    // In the order of qzbios::kSettings: whether the source publishes the setting, and whether its
    // value was read (the row that holds it has one).
    std::vector<bool> published;
    std::vector<bool> read;
    std::size_t publishedCount = 0;  // of the 31
    std::size_t otherSettings = 0;   // distinct setting names beyond the 31
    // The published settings of the 31 whose value was not read, by why; and how many they are.
    std::map<std::string, std::vector<std::string>> unread;
    std::size_t unreadCount = 0;
    // The value as read of the setting whose current option is trimmed, the one value the
    // library's rules can fail on; empty when there is none.
    std::string trimmedValue;
};

// Throws std::bad_alloc only.
Coverage CoverageOf(const sources::Reading& reading);

// Appends to `bios` the snapshot of the reading's rows, as the library's settings query stores
// them, and returns its record. Throws as QZBios does: std::bad_alloc, and std::out_of_range for a
// three-byte current Video Memory Size option; and std::bad_alloc where the class would absorb
// memory running out in its name map, so that no record short of a setting is made.
const qzbios::QZBiosData& MakeRecord(const sources::Reading& reading, qzbios::QZBiosImpl& bios);

}  // namespace qz::shared::reading
