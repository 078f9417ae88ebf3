// Writing a whole output file so that a reader never sees part of it, as textfile collectors ask.
#pragma once

#include <string>

namespace qz::tools {

// Writes `text` to a temporary file in the folder of `path`, flushes it to disk, gives it mode 0644
// (readable by a collector running as another user) and renames it over `path`. On failure `path`
// is left as it was, no temporary file stays, and `error` says why. Implemented once per platform.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace qz::tools
