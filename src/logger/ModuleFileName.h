#pragma once

// plog's Util.h uses va_copy on Windows without including <cstdarg> itself.
#include <cstdarg>

#include <plog/Util.h>

namespace qz::shared::common::logger {

// The file name, without its directory, of the loaded module that contains `address`; empty when
// the module or its path cannot be found. Implemented once per platform.
plog::util::nstring ModuleFileName(const void* address);

// The text after the last `separator` of `path`; empty when there is none.
plog::util::nstring FileNameAfterLastSeparator(const plog::util::nstring& path,
                                               plog::util::nchar separator);

}  // namespace qz::shared::common::logger
