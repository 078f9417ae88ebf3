// How a value shows in qzbios-dump's table: one line, nothing a terminal would act on, and its
// width in columns.
#pragma once

#include <cstddef>
#include <string>

namespace qz::tools {

// `value` with every control character (C0, DEL, C1), every bidirectional control (U+061C,
// U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), the line and paragraph separators (U+2028,
// U+2029) and every byte that is not part of UTF-8 text escaped: "\n", "\r", "\t", "\x1b",
// "\u0085",
// "\u202e", "\xff"; a backslash is doubled, so that an escape cannot be mistaken for the firmware's
// own text. Every text from firmware, a tree or a file that qzbios-dump shows passes through it.
// With `pathSeparators`, a backslash stands as it is: Windows paths are shown as their user wrote
// them (a Windows file name holds no control character that an escape could be taken for).
std::string TerminalText(const std::string& value, bool pathSeparators = false);

// The columns UTF-8 text (as TerminalText gives it) takes on a terminal: two for a wide East Asian
// character, none for a combining mark or a zero-width character, one for any other.
std::size_t DisplayWidth(const std::string& text);

}  // namespace qz::tools
