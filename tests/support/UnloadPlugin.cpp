// A host's plug-in that uses the library, as agents load it: a module of the host's own, linked
// against the shared library, opened and closed with dlopen and dlclose.
#include <cstdint>
#include <new>

#include "qzbios/QZBios.h"

// Takes one snapshot and reads its record: 1 when that worked, 0 when memory ran out.
extern "C" __attribute__((visibility("default"))) int qzTestPluginReadRecord() noexcept {
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        return bios.GetQZBiosData(count) != nullptr && count == 1 ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
