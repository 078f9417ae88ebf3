// A host of the shared library that reads the settings once, for the worst-input benchmark to
// measure: what a process pays when the environment names a tree or capture at the limits.
#include <cstdint>
#include <cstdio>
#include <exception>

#include <qzbios/QZBios.h>

int main() {
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        const qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(count);
        std::printf("%llu record, FastBoot '%.16s'\n", static_cast<unsigned long long>(count),
                    records[0].FastBoot);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "worst-input host: %s\n", e.what());
        return 1;
    }
    return 0;
}
