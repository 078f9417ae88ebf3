// Where the stand-in client finds the BIOS settings on systems without WMI: a capture file named by
// QZ_WMI_CAPTURE wins; otherwise the kernel's firmware-attributes class, under
// /sys/class/firmware-attributes or the folder named by QZ_FIRMWARE_ATTRIBUTES_DIR. Both variables
// are for tests and support, and count only in a process without elevated privileges.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

// Bytes read at most from one sysfs file; the rest of a longer file is ignored.
constexpr std::size_t kMaxAttributeFileBytes = 64 * std::size_t{1024};

// What a tree may hold; a tree with more is refused whole. Real firmware publishes some 200
// attributes in some 50 KiB. The limits count over the whole walk, across devices, however a folder
// is reached (a tree may link one device many times): the names listed in all its folders, the
// folders and files opened, and the bytes read.
constexpr std::size_t kMaxTreeAttributes = 4096;
constexpr std::size_t kMaxTreeEntries = 2 * kMaxTreeAttributes;
constexpr std::size_t kMaxTreeOpens = 6 * kMaxTreeAttributes;
constexpr std::size_t kMaxTreeBytes = std::size_t{4} << 20;

// The value of the environment variable `name` when this process may be steered by its caller's
// environment and the value is not empty; null otherwise. A setuid or setgid program, or one with
// file capabilities, is not: it reads the machine's own settings, whatever its caller names.
const char* SettingsVariable(const char* name);

// QZ_FIRMWARE_ATTRIBUTES_DIR, or /sys/class/firmware-attributes without it.
std::string FirmwareAttributesRoot();

// Gives the text of one file of an attribute's folder, as read from sysfs: at most
// kMaxAttributeFileBytes bytes, without one trailing newline; nullopt when it cannot be read.
using AttributeFileReader = std::function<std::optional<std::string>(const char* file)>;

// Current values that exist but could not be read: for each reason (as strerror words it), how
// many.
using UnreadableValues = std::map<std::string, std::size_t>;

// The row of the attribute folder `name`, whose files `read` gives (nullopt with errno set when a
// file cannot be read; ENOENT when it is missing): named by its display_name, or else `name`, with
// the setting's current value in the form the library reads (an enumeration as its options joined
// by ',' with the current one marked '*', an ordered list joined by ','), or no value when
// current_value cannot be read. A current_value that exists but cannot be read is counted in
// `unreadable`. Throws std::bad_alloc only.
CaptureRow AttributeRow(const std::string& name, const AttributeFileReader& read,
                        UnreadableValues& unreadable);

// Reads the settings rows of every device under `root`, devices and attributes in byte order of
// their directory names, and counts the current values that exist but could not be read. A root
// that is missing or holds no device gives no rows and no devices. A tree beyond the limits above
// gives no rows, and `refusal` says which limit it met (empty otherwise). Attribute folders and
// their files are never followed through a symbolic link, and only regular files are opened. Never
// throws; returns false only when memory runs out.
bool ReadFirmwareAttributes(const std::string& root, std::vector<CaptureRow>& rows,
                            std::vector<std::string>& devices, UnreadableValues& unreadable,
                            std::string& refusal) noexcept;

// Rows handed to the client, shared rather than copied.
using ServedRows = std::shared_ptr<const std::vector<CaptureRow>>;

// From now on every settings query of this process answers with `rows`, whatever the environment
// names: for a tool that has read its source itself (a capture perhaps from a pipe that cannot be
// read twice, a tree whose unreadable values it reports). The tool's own copy of the client only:
// the shared library does not export it.
void ServeCaptureRows(ServedRows rows) noexcept;

}  // namespace qz::shared::wmi
