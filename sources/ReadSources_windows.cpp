// On Windows the settings come from the firmware's WMI provider, and nothing in the environment
// steers where they come from.
#include "sources/Reading.h"

namespace qz::shared::sources {

SourceRequest RequestFromEnvironment() { return SourceRequest(); }

}  // namespace qz::shared::sources
