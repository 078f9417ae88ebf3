// Capture files: the parser's UTF-16, and the limits of the reader and the writer.
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sources/Capture.h"
#include "support/ScratchFolder.h"

namespace qz::shared::sources {
namespace {

using Rows = std::vector<SettingRow>;

// UTF-16 captures in both byte orders: a pair is one character, and a surrogate that is not half of
// one reads as U+FFFD, with nothing after it lost.
TEST(CaptureParser, DecodesUtf16SurrogatesAsTheStandardSays) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::pair<std::vector<char16_t>, std::string> cases[] = {
        {{u'A', 0xD800, u'B'}, "A" + r + "B"},
        {{u'A', 0xDC00, u'B'}, "A" + r + "B"},
        {{0xDC00, 0xD800, u'B'}, r + r + "B"},
        {{0xD800, 0xD800, 0xDC00}, r + "\xF0\x90\x80\x80"},
        {{0xD83D, 0xDE00, u'B'}, std::string("\xF0\x9F\x98\x80") + "B"},
        {{u'A', 0xDBFF}, "A" + r},
    };
    for (const bool bigEndian : {false, true}) {
        for (const auto& [value, expected] : cases) {
            std::vector<char16_t> units = {0xFEFF, u'{', u'"', u'N', u'a',
                                           u'm',   u'e', u'"', u':', u'"'};
            units.insert(units.end(), value.begin(), value.end());
            units.insert(units.end(), {u'"', u'}'});
            std::string bytes;
            for (const char16_t unit : units) {
                const auto high = static_cast<char>(unit >> 8);
                const auto low = static_cast<char>(unit & 0xFF);
                bytes += bigEndian ? std::string{high, low} : std::string{low, high};
            }
            Rows rows;
            std::string error;
            ASSERT_TRUE(ParseCapture(bytes, rows, error)) << error;
            EXPECT_EQ(rows, (Rows{{expected, std::nullopt}})) << expected << bigEndian;
        }
    }
}

// Every limit of a capture at its edge: as much as it admits is read, and one more is refused,
// saying which; and the writer refuses what the reader would.
TEST(CaptureLimits, AdmitTheEdgeAndRefuseOneMore) {
    const auto rows = [](std::size_t count) {
        std::string text = "[{}";
        for (std::size_t i = 1; i < count; ++i) {
            text += ",{}";
        }
        return text + "]";
    };
    constexpr std::size_t kBytes = std::size_t{8} << 20;
    const test::ScratchFolder scratch;
    const std::string file = scratch / "limit.json";
    const std::string frame =
        "[\n    {\n        \"Name\": null,\n        \"Value\": \"\"\n    }\n]\n";
    Rows parsed;
    std::string text;
    std::string error;
    const auto load = [&](std::size_t size) {
        std::ofstream(file, std::ios::binary) << "[" << std::string(size - 2, ' ') << "]";
        return LoadCaptureFile(file, parsed, error);
    };
    // The reader, and the writer refusing what the reader would.
    const std::pair<std::function<bool()>, const char*> captures[] = {
        {[&] { return ParseCapture(rows(8192), parsed, error); }, ""},
        {[&] { return ParseCapture(rows(8193), parsed, error); },
         "more than the 8192 rows a capture may have"},
        {[&] { return load(kBytes); }, ""},
        {[&] { return load(kBytes + 1); }, "larger than the 8 MiB a capture may have"},
        {[&] { return CaptureText(Rows(8192), text, error); }, ""},
        {[&] { return CaptureText(Rows(8193), text, error); },
         "8193 settings, more than the 8192 rows a capture may have"},
        {[&] {
             return CaptureText({{{}, std::string(kBytes - frame.size(), 'x')}}, text, error);
         },
         ""},
        {[&] {
             return CaptureText({{{}, std::string(kBytes - frame.size() + 1, 'x')}}, text, error);
         },
         "the capture would be larger than the 8 MiB a capture may have"},
    };
    for (std::size_t i = 0; i < std::size(captures); ++i) {
        error.clear();
        EXPECT_EQ(captures[i].first(), *captures[i].second == '\0') << i;
        EXPECT_EQ(error, captures[i].second) << i;
    }
}

}  // namespace
}  // namespace qz::shared::sources
