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

#include "sources/Reading.h"

namespace qz::shared::sources {

// What a capture may hold; a larger one is refused rather than read, and the writer refuses to
// write one the reader would refuse. A real machine's capture has some 200 rows in some 50 KiB.
constexpr std::size_t kMaxCaptureBytes = std::size_t{8} << 20;
constexpr std::size_t kMaxCaptureRows = 8192;

// Whether an error of the functions below says that memory ran out: it then begins with "out of
// memory", or is empty where not even that could be written.
inline bool IsOutOfMemory(const std::string& error) {
    return error.empty() || error.rfind("out of memory", 0) == 0;
}

// Parses capture text (UTF-8, with or without a byte order mark, or UTF-16 with one: a surrogate
// that is not half of a pair reads as U+FFFD). On failure returns false and sets `error` to what is
// wrong, for a message that names the input. Never throws.
bool ParseCapture(std::string_view text, std::vector<SettingRow>& rows,
                  std::string& error) noexcept;

// Reads and parses the capture file at `path`, reading at most kMaxCaptureBytes through one
// descriptor, opened close-on-exec and without waiting. Only a regular file is read, and it is
// looked at on what was opened before it is opened for reading: anything else (a symbolic link at
// the name, a FIFO, which might never be written, a device, a directory) is refused, and a device
// is never opened. Never throws.
bool LoadCaptureFile(const std::string& path, std::vector<SettingRow>& rows,
                     std::string& error) noexcept;

// As LoadCaptureFile, for a person or a script that hands a capture over: any file that can be
// read once (a FIFO or a pipe too, which may block until written), and "-" for standard input.
bool ReadCapture(const std::string& path, std::vector<SettingRow>& rows,
                 std::string& error) noexcept;

// The text of a capture file of `rows` (UTF-8, no byte order mark), with null for a member that
// cannot be read, terminal-safe as common::TerminalText makes JSON. JSON holds Unicode text only:
// bytes that are not UTF-8 are written as U+FFFD. On failure (memory running out, or a capture the
// reader would refuse as too large) returns false and sets `error`. Never throws.
bool CaptureText(const std::vector<SettingRow>& rows, std::string& text,
                 std::string& error) noexcept;

}  // namespace qz::shared::sources
