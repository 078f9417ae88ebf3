#include "SettingsSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace qz::shared::wmi {

namespace {

const char kDefaultRoot[] = "/sys/class/firmware-attributes";

// The names in a directory, sorted, without "." and ".."; empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), &closedir);
    if (!dir) {
        return names;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct FileDescriptor {
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    const int fd;
};

// A directory, opened for looking up the names in it (it need not be readable), or -1 when `path`
// is not a directory. Files in it are then opened relative to it, so that the kernel walks the
// long path of an attribute once rather than once per file.
int OpenDirectory(const std::string& path) {
    return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The first kMaxAttributeFileBytes bytes of the regular file `name` in the directory `dir`, without
// one trailing newline; nullopt with errno set when it is missing (ENOENT), unreadable, a directory
// (EISDIR) or another file that is not regular (EINVAL). Opened non-blocking so that a FIFO planted
// in a tree cannot hang the read.
std::optional<std::string> ReadAttributeFile(int dir, const char* name) {
    const FileDescriptor file(openat(dir, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    const int fd = file.fd;
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    // Sysfs values are short: read them through a small buffer, so that the string holds only
    // what the file has, and a long file grows it a chunk at a time up to the limit.
    std::string text;
    std::array<char, 4096> chunk{};
    while (text.size() < kMaxAttributeFileBytes) {
        const std::size_t want = std::min(chunk.size(), kMaxAttributeFileBytes - text.size());
        const ssize_t got = read(fd, chunk.data(), want);
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(separator, begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > begin) {
            parts.push_back(text.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

// A possible_values list: ';'-separated, or ','-separated where the firmware's list holds no ';'.
std::vector<std::string> SplitOptions(const std::string& list) {
    return Split(list, list.find(';') != std::string::npos ? ';' : ',');
}

// `text` without its trailing blanks, tabs and carriage returns, which firmware leaves behind
// unevenly on values and options.
std::string_view TrimEnd(std::string_view text) {
    const std::size_t end = text.find_last_not_of(" \t\r");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// The options joined by ',' with the current one marked by '*', each without trailing blanks, tabs
// or carriage returns. A current value that is not among them is added, marked, at the end, so that
// the current setting is never lost.
std::string EnumerationValue(const std::string& current, const std::vector<std::string>& options) {
    bool marked = false;
    std::string joined;
    for (const std::string& option : options) {
        if (!joined.empty()) {
            joined += ',';
        }
        if (!marked && TrimEnd(option) == TrimEnd(current)) {
            joined += '*';
            marked = true;
        }
        joined += TrimEnd(option);
    }
    if (!marked) {
        joined += joined.empty() ? "*" : ",*";
        joined += TrimEnd(current);
    }
    return joined;
}

// Kernels before 6.3 published some firmware's settings without a type file, the options inline
// in current_value: "Disable;[Optional:Disable,Enable]", "Primary;[Optional:Primary,Automatic]
// [Status:ShowOnly]". `current` becomes the text before the first ';' and `options` the list inside
// "[Optional:...]"; a value with neither, such as "[01/01/2019][Status:ShowOnly]", stays as it is.
void SplitInlineOptions(std::string& current, std::vector<std::string>& options) {
    static const std::string kOptional = "[Optional:";
    const std::size_t semicolon = current.find(';');
    const std::size_t optional = current.find(kOptional);
    if (optional != std::string::npos) {
        const std::size_t begin = optional + kOptional.size();
        const std::size_t end = current.find(']', begin);
        options = Split(current.substr(begin, end == std::string::npos ? end : end - begin), ',');
    }
    if (semicolon != std::string::npos || optional != std::string::npos) {
        current.erase(std::min(semicolon, optional));
    }
}

}  // namespace

CaptureRow AttributeRow(const std::string& name, const AttributeFileReader& read,
                        UnreadableValues& unreadable) {
    CaptureRow row;
    const std::optional<std::string> displayName = read("display_name");
    row.name = displayName && !displayName->empty() ? *displayName : name;
    std::optional<std::string> current = read("current_value");
    if (!current) {
        // The setting is published, but its value cannot be read: a fact to report.
        if (const int error = errno; error != ENOENT) {
            ++unreadable[std::strerror(error)];
        }
        return row;
    }
    const std::optional<std::string> type = read("type");
    if (type == "ordered-list") {
        std::replace(current->begin(), current->end(), ';', ',');
        row.value = std::move(current);
        return row;
    }
    if (type && type != "enumeration") {
        row.value = std::move(current);  // integer, string, or a type this reader does not know
        return row;
    }
    // An enumeration, or an attribute of an older kernel that has no type file: that is one when
    // it lists options, in possible_values or inline.
    const std::optional<std::string> possible = read("possible_values");
    std::vector<std::string> options = SplitOptions(possible.value_or(""));
    if (!type) {
        SplitInlineOptions(*current, options);
    }
    const bool enumeration = type ? possible.has_value() : !options.empty();
    row.value = enumeration ? EnumerationValue(*current, options) : std::move(*current);
    return row;
}

std::vector<std::string> ListFirmwareAttributeDevices(const std::string& root) {
    std::vector<std::string> devices = ListDirectory(root);
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [&root](const std::string& device) {
                                     return !IsDirectory(root + "/" + device + "/attributes");
                                 }),
                  devices.end());
    return devices;
}

bool ReadFirmwareAttributes(const std::string& root, std::vector<CaptureRow>& rows,
                            std::vector<std::string>& devices,
                            UnreadableValues& unreadable) noexcept {
    try {
        std::vector<CaptureRow> found;
        UnreadableValues problems;
        std::vector<std::string> names = ListFirmwareAttributeDevices(root);
        // Authentication entries become rows behind every attribute, unless the firmware publishes
        // settings of those names itself.
        std::vector<CaptureRow> passwords;
        for (const std::string& device : names) {
            const std::string attributes = root + "/" + device + "/attributes";
            for (const std::string& attribute : ListDirectory(attributes)) {
                const FileDescriptor dir(OpenDirectory(attributes + "/" + attribute));
                if (dir.fd >= 0) {
                    found.push_back(AttributeRow(
                        attribute,
                        [&dir](const char* file) { return ReadAttributeFile(dir.fd, file); },
                        problems));
                }
            }
            const std::pair<const char*, const char*> kPasswords[] = {
                {"Admin", "Setup Password"}, {"System", "Power-On Password"}};
            for (const auto& [entry, setting] : kPasswords) {
                const FileDescriptor dir(
                    OpenDirectory(root + "/" + device + "/authentication/" + entry));
                if (dir.fd >= 0) {
                    passwords.push_back({setting, ReadAttributeFile(dir.fd, "is_enabled")});
                }
            }
        }
        std::set<std::string> published;
        for (const CaptureRow& row : found) {
            published.insert(row.name.value_or(""));
        }
        for (CaptureRow& password : passwords) {
            if (published.insert(*password.name).second) {
                found.push_back(std::move(password));
            }
        }
        rows = std::move(found);
        devices = std::move(names);
        unreadable = std::move(problems);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string FirmwareAttributesRoot() {
    const char* root = std::getenv("QZ_FIRMWARE_ATTRIBUTES_DIR");
    return root != nullptr && *root != '\0' ? root : kDefaultRoot;
}

SettingsSource FindSettingsSource() noexcept {
    SettingsSource source;
    try {
        if (const char* capture = std::getenv("QZ_WMI_CAPTURE"); capture && *capture) {
            source.kind = SettingsSource::Kind::kCapture;
            source.path = capture;
            return source;
        }
        source.path = FirmwareAttributesRoot();
        // Only the devices: their attributes are read once, by the query.
        source.devices = ListFirmwareAttributeDevices(source.path);
        if (!source.devices.empty()) {
            source.kind = SettingsSource::Kind::kFirmwareAttributes;
        }
    } catch (const std::exception&) {
        source = SettingsSource();
    }
    return source;
}

}  // namespace qz::shared::wmi
