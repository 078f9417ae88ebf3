#include <dlfcn.h>

#include "logger/ModuleFileName.h"

namespace qz::shared::common::logger {

plog::util::nstring ModuleFileName(const void* address) {
    // dladdr looks the address up among the loaded objects without taking a reference.
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return plog::util::nstring();
    }
    return FileNameAfterLastSeparator(info.dli_fname, '/');
}

}  // namespace qz::shared::common::logger
