// Text as a terminal may show it: what is escaped, what passes, and the columns it takes.
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "common/TerminalText.h"

namespace qz::shared::common {
namespace {

TEST(TerminalText, EscapesWhatAPersonSeesAndCountsColumns) {
    // Value, as the table shows it, and its width in columns.
    const std::tuple<std::string, std::string, std::size_t> cases[] = {
        {"On", "On", 2},
        {"\x7f\x1f", "\\x7f\\x1f", 8},
        {"\xC2\x80\xC2\x9F\xC2\xA0", "\\u0080\\u009f\xC2\xA0", 13},
        {"\xE2\x80\xA9\xE2\x80\xAA\xE2\x80\xAE\xE2\x80\xAF", "\\u2029\\u202a\\u202e\xE2\x80\xAF",
         19},
        {"\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA",
         "\xE2\x81\xA5\\u2066\\u2069\xE2\x81\xAA", 14},
        {"\xE2\x80\xA7\xE2\x80\xA8", "\xE2\x80\xA7\\u2028", 7},
        {"\xC0\x80", "\\xc0\\x80", 8},            // overlong
        {"\xE2\x82", "\\xe2\\x82", 8},            // truncated
        {"\xED\xA0\x80", "\\xed\\xa0\\x80", 12},  // a surrogate
        {"\xE8\xA8\xAD"
         "e\xCC\x81",
         "\xE8\xA8\xAD"
         "e\xCC\x81",
         3},  // wide, then combining
        {"a\\n", "a\\\\n", 4},
    };
    for (const auto& [value, shown, width] : cases) {
        EXPECT_EQ(TerminalText(value), shown);
        EXPECT_EQ(DisplayWidth(TerminalText(value)), width) << shown;
    }
}

// JSON text keeps its own escapes and white space; what a terminal would act on becomes an escape.
TEST(TerminalText, EscapesJsonAsJsonWould) {
    const std::pair<std::string, std::string> cases[] = {
        {"{\n  \"a\": \"\\\\n\\t\"\n}", "{\n  \"a\": \"\\\\n\\t\"\n}"},
        {"\x7f\xC2\x80\xC2\x9F\xC2\xA0", "\\u007f\\u0080\\u009f\xC2\xA0"},
        {"\xD8\x9C\xE2\x80\x8E\xE2\x80\x8F", "\\u061c\\u200e\\u200f"},
        {"\xE2\x80\xA8\xE2\x80\xAE\xE2\x80\xAF", "\\u2028\\u202e\xE2\x80\xAF"},
        {"\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA",
         "\xE2\x81\xA5\\u2066\\u2069\xE2\x81\xAA"},
    };
    for (const auto& [json, shown] : cases) {
        EXPECT_EQ(TerminalText(json, Escapes::Json), shown);
    }
}

}  // namespace
}  // namespace qz::shared::common
