// Any bytes as a capture file: the parser either delivers rows or says what is wrong and changes
// nothing; what it delivers, written and read back, keeps every row and what can be read of it, and
// is stable from the first rewrite on (the writer turns bytes that are not UTF-8 into U+FFFD),
// unless the writer refuses it as larger than a capture may be.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/Invariant.h"
#include "sources/Capture.h"

namespace {

using Rows = std::vector<qz::shared::sources::SettingRow>;

Rows Rewrite(const Rows& rows, bool& written) {
    Rows back;
    std::string text;
    std::string error;
    written = qz::shared::sources::CaptureText(rows, text, error);
    Check(written || error.find("a capture may have") != std::string::npos, "write: " + error);
    Check(!written || qz::shared::sources::ParseCapture(text, back, error), "read back: " + error);
    return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Rows sentinel{{std::string("untouched"), std::nullopt}};
    Rows rows = sentinel;
    std::string error;
    if (!qz::shared::sources::ParseCapture(std::string(reinterpret_cast<const char*>(data), size),
                                           rows, error)) {
        Check(!error.empty() && rows == sentinel, "a refusal names a reason and changes nothing");
        return 0;
    }
    bool written = false;
    const Rows once = Rewrite(rows, written);
    if (!written) {
        return 0;
    }
    Check(once.size() == rows.size(), "round trip changed the row count");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Check(once[i].name.has_value() == rows[i].name.has_value() &&
                  once[i].value.has_value() == rows[i].value.has_value(),
              "round trip changed what can be read");
    }
    Check(Rewrite(once, written) == once && written, "a rewritten capture changed again");
    return 0;
}
