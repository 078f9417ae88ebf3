// Text from firmware, trees and files as it may reach a terminal: one way to escape what a terminal
// would act on, over one UTF-8 decoder, for the table, JSON, Prometheus labels and messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qz::shared::common {

enum class Escapes {
    // For a person: every control character (C0, DEL, C1), every bidirectional control (U+061C,
    // U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), the line and paragraph separators
    // (U+2028, U+2029) and every byte that is not part of UTF-8 text, as "\n", "\r", "\t",
    // "\x1b", "\u0085", "\u202e", "\xff"; a backslash doubled, so that an escape cannot be
    // mistaken for the text's own.
    Display,
    // As Display, a backslash standing as it is: Windows paths as their user wrote them (a Windows
    // file name holds no control character that an escape could be taken for).
    Path,
    // For JSON text in UTF-8 whose control characters below U+0020 are already escaped: DEL, the
    // C1 controls, the bidirectional controls and the separators written as JSON escapes
    // ("\u007f", "\u202e"). The JSON means the same; only its text changes.
    Json,
};

// `text` with what a terminal would act on escaped as `escapes` says. Throws std::bad_alloc only.
std::string TerminalText(std::string_view text, Escapes escapes = Escapes::Display);

// The columns UTF-8 text (as TerminalText gives it) takes on a terminal: two for a wide East Asian
// character, none for a combining mark or a zero-width character, one for any other.
std::size_t DisplayWidth(std::string_view text);

}  // namespace qz::shared::common
