#include "common/TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace qz::shared::common {

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Combining marks and zero-width characters, and wide characters: the blocks terminals draw that
// way (Unicode's East Asian Width W and F, and the main combining blocks).
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}};
constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
                           {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                           {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                           {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                           {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};

template <std::size_t N>
bool In(const Range (&ranges)[N], char32_t c) {
    for (const Range& range : ranges) {
        if (c >= range.first && c <= range.last) {
            return true;
        }
    }
    return false;
}

// The code point of the UTF-8 sequence at `text[at]`, and its length in `length`; 0 bytes when the
// bytes there are not UTF-8 (a stray or missing continuation byte, an overlong form, a surrogate,
// or beyond U+10FFFF).
char32_t Decode(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    length = lead < 0x80                   ? 1
             : lead >= 0xC2 && lead < 0xE0 ? 2
             : lead >= 0xE0 && lead < 0xF0 ? 3
             : lead >= 0xF0 && lead < 0xF5 ? 4
                                           : 0;
    if (length == 0 || at + length > text.size()) {
        length = 0;
        return 0;
    }
    char32_t c = length == 1 ? lead : static_cast<char32_t>(lead & (0x7FU >> length));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            length = 0;
            return 0;
        }
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        length = 0;
    }
    return c;
}

// Characters that reorder or break the text around them on a terminal: the bidirectional marks,
// embeddings, overrides and isolates, and the line and paragraph separators.
bool IsLayoutControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// How the character `c` of `length` bytes (0 for a byte that is not UTF-8, `byte`) is written;
// empty when it stands as it is.
std::string EscapeOf(char32_t c, std::size_t length, unsigned char byte, Escapes escapes) {
    const bool json = escapes == Escapes::Json;
    char escape[16] = {};
    if (length == 0 && !json) {
        std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    } else if (length == 0 || (json && c < 0x20)) {
        // JSON text is UTF-8 already, its controls escaped or the document's own white space.
    } else if (c == '\n' || c == '\r' || c == '\t' || (c == '\\' && escapes == Escapes::Display)) {
        const char letter = c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : '\\';
        escape[0] = '\\';
        escape[1] = letter;
    } else if ((c < 0x20 || c == 0x7F) && !json) {
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
    } else if (c == 0x7F || (c >= 0x80 && c <= 0x9F) || IsLayoutControl(c)) {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
    }
    return escape;
}

}  // namespace

std::string TerminalText(std::string_view text, Escapes escapes) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t c = Decode(text, at, length);
        const std::string escape =
            EscapeOf(c, length, static_cast<unsigned char>(text[at]), escapes);
        length = length == 0 ? 1 : length;
        shown += escape.empty() ? text.substr(at, length) : std::string_view(escape);
        at += length;
    }
    return shown;
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t c = Decode(text, at, length);
        width += length == 0 ? 1U : In(kZeroWidth, c) ? 0U : In(kWide, c) ? 2U : 1U;
        at += length == 0 ? 1 : length;
    }
    return width;
}

}  // namespace qz::shared::common
