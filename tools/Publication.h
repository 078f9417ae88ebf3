// What a reading holds of the 31 settings the library reads: which the source publishes, which of
// those it could read, and how many other settings it holds.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "Reading.h"

namespace qz::tools {

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
Publication Publish(const shared::wmi::Reading& reading);

}  // namespace qz::tools
