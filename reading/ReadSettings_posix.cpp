#include "reading/ReadSettings.h"

namespace qz::shared::reading {

sources::Reading ReadSettings(const sources::SourceRequest& request) noexcept {
    return sources::ReadSources(request);
}

}  // namespace qz::shared::reading
