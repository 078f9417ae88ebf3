// The library's code over one reading, for qzbios-dump and the C interface: what the reading holds
// of the 31 settings the library reads (which the source publishes, which of those it could read,
// and how many other settings it holds), and the record the library makes of its rows.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "Reading.h"
#include "bios/QZBiosImpl.h"

namespace qz::shared::qzbios {

struct Publication {
    // In the order of the record's fields: whether the source publishes the field's setting, and
    // whether its value was read (the last row of that name, as in the library, has one).
    std::vector<bool> published;
    std::vector<bool> read;
    std::size_t publishedCount = 0;  // of the 31
    std::size_t otherSettings = 0;   // distinct setting names beyond the 31
    // The published settings of the 31 whose value was not read, by why; and how many they are.
    std::map<std::string, std::vector<std::string>> unread;
    std::size_t unreadCount = 0;
    std::string videoMemory;  // the Video Memory Size value as read, when there is one
};

// Throws std::bad_alloc only.
Publication Publish(const wmi::Reading& reading);

// Appends to `bios` the snapshot of the reading's rows, as the library's settings query stores
// them, and returns its record. Throws as QZBios does: std::bad_alloc, and std::out_of_range for a
// three-byte current Video Memory Size option.
const QZBiosData& MakeRecord(const wmi::Reading& reading, QZBiosImpl& bios);

}  // namespace qz::shared::qzbios
