// Capture files: the QZ_BIOSSetting rows of one machine as JSON, in the form PowerShell writes with
//   Get-CimInstance -Namespace root\QZ\InstrumentedBios -ClassName QZ_BIOSSetting |
//     Select-Object Name, Value | ConvertTo-Json
// that is, an array of objects (or one object) with string members "Name" and "Value".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

// One row. A member that is missing, null or not a string is a property that cannot be read.
struct CaptureRow {
    std::optional<std::string> name;
    std::optional<std::string> value;
};

inline bool operator==(const CaptureRow& a, const CaptureRow& b) {
    return a.name == b.name && a.value == b.value;
}

// What a capture may hold; a larger one is refused rather than read, and the writer refuses to
// write one the reader would refuse. A real machine's capture has some 200 rows in some 50 KiB.
constexpr std::size_t kMaxCaptureBytes = std::size_t{8} << 20;
constexpr std::size_t kMaxCaptureRows = 8192;

// Parses capture text (UTF-8, with or without a byte order mark, or UTF-16 with one: a surrogate
// that is not half of a pair reads as U+FFFD). On failure returns false and sets `error` to what is
// wrong, for a message that names the input. Never throws.
bool ParseCapture(std::string_view text, std::vector<CaptureRow>& rows,
                  std::string& error) noexcept;

// Reads and parses the capture file at `path`, reading at most kMaxCaptureBytes through one
// descriptor, opened close-on-exec and without waiting. Only a regular file is read: anything else
// (a FIFO, which might never be written, a device, a directory) is refused as "not a regular file",
// and a device is not even opened. Never throws.
bool LoadCaptureFile(const std::string& path, std::vector<CaptureRow>& rows,
                     std::string& error) noexcept;

// As LoadCaptureFile, for a person or a script that hands a capture over: any file that can be
// read once (a FIFO or a pipe too, which may block until written), and "-" for standard input.
bool ReadCapture(const std::string& path, std::vector<CaptureRow>& rows,
                 std::string& error) noexcept;

// `json`, JSON text in UTF-8 whose control characters below U+0020 are already escaped, with every
// other character a terminal would act on written as an escape too: DEL and the C1 controls
// (U+007F to U+009F), the bidirectional controls (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066
// to U+2069) and the line and paragraph separators (U+2028, U+2029), as \u007f, \u202e. The JSON
// means the same; only its text changes. Throws std::bad_alloc only.
std::string TerminalSafeJson(std::string_view json);

// The text of a capture file of `rows` (UTF-8, no byte order mark), with null for a member that
// cannot be read, terminal-safe as TerminalSafeJson makes it. JSON holds Unicode text only: bytes
// that are not UTF-8 are written as U+FFFD. On failure (memory running out, or a capture the reader
// would refuse as too large) returns false and sets `error`. Never throws.
bool CaptureText(const std::vector<CaptureRow>& rows, std::string& text,
                 std::string& error) noexcept;

}  // namespace qz::shared::wmi
