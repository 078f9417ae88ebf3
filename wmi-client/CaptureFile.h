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

// Files larger than this are refused rather than read.
constexpr std::size_t kMaxCaptureBytes = std::size_t{16} << 20;

// Parses capture text (UTF-8, with or without a byte order mark, or UTF-16 with one). On failure
// returns false and sets `error` to what is wrong, for a message that names the input. Never
// throws.
QZ_WMI_CLIENT_API bool ParseCapture(std::string_view text, std::vector<CaptureRow>& rows,
                                    std::string& error) noexcept;

// Reads and parses the capture file at `path`, reading at most kMaxCaptureBytes. Only a regular
// file is read: anything else (a FIFO, which might never be written, a device, a directory) is
// refused as "not a regular file". Never throws.
QZ_WMI_CLIENT_API bool LoadCaptureFile(const std::string& path, std::vector<CaptureRow>& rows,
                                       std::string& error) noexcept;

// As LoadCaptureFile, for a person or a script that hands a capture over: any file that can be
// read once (a FIFO or a pipe too, which may block until written), and "-" for standard input.
QZ_WMI_CLIENT_API bool ReadCapture(const std::string& path, std::vector<CaptureRow>& rows,
                                   std::string& error) noexcept;

// The text of a capture file of `rows`, as WriteCaptureFile writes it. On failure (memory running
// out) returns false and sets `error`. Never throws.
QZ_WMI_CLIENT_API bool CaptureText(const std::vector<CaptureRow>& rows, std::string& text,
                                   std::string& error) noexcept;

// Writes `rows` to `path` as a capture file (UTF-8, no byte order mark), with null for a member
// that cannot be read. JSON holds Unicode text only: bytes that are not UTF-8 are written as
// U+FFFD. On failure returns false and sets `error`. Never throws.
QZ_WMI_CLIENT_API bool WriteCaptureFile(const std::string& path,
                                        const std::vector<CaptureRow>& rows,
                                        std::string& error) noexcept;

}  // namespace qz::shared::wmi
