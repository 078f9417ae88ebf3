// Which of the settings the library reads a source publishes, and which of those it could read:
// from the rows the WMI client delivers and the library's own table of setting names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "CaptureFile.h"

namespace qz::tools {

struct Publication {
    // In the order of kRecordFields: whether the source publishes the field's setting, and whether
    // its value could be read (the last row of that name has one).
    std::vector<bool> published;
    std::vector<bool> read;
    std::size_t publishedCount = 0;   // of the 31
    std::size_t settings = 0;         // distinct setting names the source holds, the 31 among them
    std::vector<std::string> unread;  // names of published settings of the 31 without a value
    std::string videoMemory;          // the raw Video Memory Size value, when there is one
};

// Throws std::bad_alloc only.
Publication Publish(const std::vector<shared::wmi::CaptureRow>& rows);

}  // namespace qz::tools
