// Where the stand-in client finds the BIOS settings on systems without WMI: a capture file named by
// QZ_WMI_CAPTURE wins; otherwise the kernel's firmware-attributes class, under
// /sys/class/firmware-attributes or the folder named by QZ_FIRMWARE_ATTRIBUTES_DIR.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

// Bytes read at most from one sysfs file; the rest of a longer file is ignored.
constexpr std::size_t kMaxAttributeFileBytes = 64 * std::size_t{1024};

struct SettingsSource {
    enum class Kind { kNone, kCapture, kFirmwareAttributes };
    Kind kind = Kind::kNone;
    std::string path;                  // the capture file, or the firmware-attributes root
    std::vector<std::string> devices;  // firmware-attributes devices, in the order they are read
};

// QZ_FIRMWARE_ATTRIBUTES_DIR, or /sys/class/firmware-attributes without it.
QZ_WMI_CLIENT_API std::string FirmwareAttributesRoot();

// The devices under `root` that have an attributes/ folder, in byte order of their names; none when
// `root` cannot be read. Throws std::bad_alloc only.
QZ_WMI_CLIENT_API std::vector<std::string> ListFirmwareAttributeDevices(const std::string& root);

// Looks at the environment and lists the firmware-attributes devices, reading none of their
// attributes. Never throws.
QZ_WMI_CLIENT_API SettingsSource FindSettingsSource() noexcept;

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
QZ_WMI_CLIENT_API CaptureRow AttributeRow(const std::string& name, const AttributeFileReader& read,
                                          UnreadableValues& unreadable);

// Reads the settings rows of every device under `root`, devices and attributes in byte order of
// their directory names, and counts the current values that exist but could not be read. A root
// that is missing or holds no device gives no rows and no devices. Never throws; returns false
// only when memory runs out.
QZ_WMI_CLIENT_API bool ReadFirmwareAttributes(const std::string& root,
                                              std::vector<CaptureRow>& rows,
                                              std::vector<std::string>& devices,
                                              UnreadableValues& unreadable) noexcept;

// From now on every settings query of this process answers with `rows`, whatever the environment
// names: for a tool that has read a capture itself, perhaps from a pipe that cannot be read twice.
QZ_WMI_CLIENT_API void ServeCaptureRows(std::vector<CaptureRow> rows) noexcept;

// What the last settings query of this process could not read of a firmware-attributes tree
// (nothing for a capture), for a tool to tell its user.
QZ_WMI_CLIENT_API UnreadableValues LastQueryUnreadableValues();

}  // namespace qz::shared::wmi
