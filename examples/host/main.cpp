// Prints the BIOS settings record of this machine, with the library's diagnostics sent to the
// host's own plog appender (here: the console).
#include <cstdint>
#include <cstdio>
#include <exception>

#include <plog/Appenders/ConsoleAppender.h>
#include <plog/Formatters/TxtFormatter.h>

#include <qzbios/QZBios.h>

int main() {
    static plog::ConsoleAppender<plog::TxtFormatter> console;
    qzSharedInitializeLogger(plog::warning, &console);
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        const qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(count);
        const qz::shared::qzbios::QZBiosData& r = records[count - 1];
        std::printf("VTX=%s\nUEFIBO=%s\nNetPXEBoot=%s\nBIOAPS=%d\nVMS=%d\nMeFwVer=%s\n", r.VTX,
                    r.UEFIBO, r.NetPXEBoot, r.BIOAPS, r.VMS, r.MeFwVer);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qzbios-host: %s\n", e.what());
        return 1;
    }
    return 0;
}
