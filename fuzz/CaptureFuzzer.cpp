// Any bytes as a capture file: the parser either delivers rows or says what is wrong, and a
// delivered capture survives being written and read back.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "CaptureFile.h"

namespace {

using qz::shared::wmi::CaptureRow;

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

// Text that JSON can carry unchanged: valid UTF-8 (the writer replaces anything else).
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<CaptureRow> rows;
    std::string error;
    if (!qz::shared::wmi::ParseCapture(text, rows, error)) {
        if (error.empty()) {
            Broken("a refused capture without a reason");
        }
        if (!rows.empty()) {
            Broken("a refused capture still delivered rows");
        }
        return 0;
    }
    bool unicode = true;
    for (const CaptureRow& row : rows) {
        unicode = unicode && IsUtf8(row.name.value_or("")) && IsUtf8(row.value.value_or(""));
    }
    if (!unicode) {
        return 0;
    }
    static const std::string path = "/tmp/qzbios-capture-fuzz-" + std::to_string(getpid());
    std::vector<CaptureRow> back;
    if (!qz::shared::wmi::WriteCaptureFile(path, rows, error) ||
        !qz::shared::wmi::LoadCaptureFile(path, back, error)) {
        Broken("round trip: " + error);
    }
    if (back != rows) {
        Broken("round trip changed the rows");
    }
    return 0;
}
