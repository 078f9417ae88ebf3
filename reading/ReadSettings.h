// One reading of the settings for the C interface and qzbios-dump, from where the library itself
// reads them.
#pragma once

#include "sources/Reading.h"

namespace qz::shared::reading {

// Reads the settings once: on Windows the machine's WMI provider, through the WMI client the
// library reads with; elsewhere the sources the request names (sources::ReadSources). Never
// throws.
sources::Reading ReadSettings(const sources::SourceRequest& request) noexcept;

}  // namespace qz::shared::reading
