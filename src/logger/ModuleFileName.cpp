#include "logger/ModuleFileName.h"

namespace qz::shared::common::logger {

plog::util::nstring FileNameAfterLastSeparator(const plog::util::nstring& path,
                                               plog::util::nchar separator) {
    const auto last = path.rfind(separator);
    if (last == plog::util::nstring::npos) {
        return plog::util::nstring();
    }
    return path.substr(last + 1);
}

}  // namespace qz::shared::common::logger
