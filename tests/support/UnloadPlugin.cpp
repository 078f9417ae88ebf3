// A host's plug-in that uses the library, as agents load it: a module of the host's own, linked
// against the shared library, opened and closed with dlopen and dlclose.
#include <new>

#include "qzbios/QZBios.h"

// Takes one snapshot and reads its record; memory running out ends it early.
extern "C" __attribute__((visibility("default"))) void qzTestPluginReadRecord() noexcept {
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        bios.GetQZBiosData(count);
    } catch (const std::bad_alloc&) {
    }
}
