// The kernel's firmware-attributes class as a source of BIOS settings on systems without WMI: one
// folder a device (under /sys/class/firmware-attributes), one folder an attribute.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "sources/Reading.h"

namespace qz::shared::sources {

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

// Gives the text of one file of an attribute's folder, as read from sysfs: at most
// kMaxAttributeFileBytes bytes, without one trailing newline; nullopt with errno set when it cannot
// be read (ENOENT when it is missing).
using AttributeFileReader = std::function<std::optional<std::string>(const char* file)>;

// The setting name of the attribute folder `folder`: its display_name, or else the folder's name.
// A file name cannot hold '/', so the kernel's drivers publish a '/' of the firmware's name as
// '\': a name that holds '\' where one of the 31 settings the library reads holds '/' is that
// setting's name. Throws std::bad_alloc only.
std::string AttributeName(const std::string& folder, const AttributeFileReader& read);

// The setting's current value in the form the library reads (an enumeration as its options joined
// by ',' with the current one marked '*', an ordered list joined by ','); nullopt when
// current_value is missing, or exists but cannot be read, which `reason` then says (as strerror
// words it; empty for a missing one). Reads current_value, and type and possible_values only where
// the value needs them. Throws std::bad_alloc only.
std::optional<std::string> AttributeValue(const AttributeFileReader& read, std::string& reason);

// Reads the tree under `root` into `reading`: its devices, and the rows of every device's
// attributes in the request's scope (devices and attributes in byte order of their folder names),
// each current value read only for a row returned; settings outside the scope are only counted,
// by their names. A root that holds no device gives no rows and no devices. A tree beyond the
// limits above gives no rows, refused with the limit it met. Attribute folders and their files are
// never followed through a symbolic link, and only regular files are opened. Never throws.
void ReadFirmwareAttributes(const std::string& root, Scope scope, Reading& reading) noexcept;

}  // namespace qz::shared::sources
