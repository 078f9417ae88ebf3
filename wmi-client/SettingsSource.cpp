#include "SettingsSource.h"
#include "FileDescriptor.h"
#include "bios/AttributeTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace qz::shared::wmi {

namespace {

// The names in a directory, sorted, without "." and ".."; empty when it cannot be read. False when
// it holds more than `limit` names: the listing stops there.
bool ListDirectory(const std::string& path, std::size_t limit, std::vector<std::string>& names) {
    names.clear();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), &closedir);
    if (!dir) {
        return true;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            if (names.size() == limit) {
                names.clear();
                return false;
            }
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return true;
}

// Keeps the names of `root` that are firmware-attributes devices: those with an attributes/ folder.
void KeepDevices(const std::string& root, std::vector<std::string>& names) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&root](const std::string& device) {
                                   struct stat info {};
                                   const std::string folder = root + "/" + device + "/attributes";
                                   return stat(folder.c_str(), &info) != 0 ||
                                          !S_ISDIR(info.st_mode);
                               }),
                names.end());
}

// A directory, opened for looking up the names in it (it need not be readable), or -1 when `path`
// is not a directory. Files in it are then opened relative to it, so that the kernel walks the
// long path of an attribute once rather than once per file. An attribute's folder is never a
// symbolic link in the kernel's tree, and is not followed through one (`follow` false); a device's
// folder is one.
int OpenDirectory(const std::string& path, bool follow) {
    return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

// The first `limit` bytes of the regular file `name` in the directory `dir`; nullopt with errno set
// when it is missing (ENOENT), unreadable, a symbolic link (ELOOP), a directory (EISDIR) or another
// file that is not regular (EINVAL). What the name is, is looked at before it is opened, so that a
// device, FIFO or socket is never opened; it is opened without following a link or waiting, and
// confirmed on the descriptor, so that a name swapped in between is refused too.
std::optional<std::string> ReadAttributeFile(int dir, const char* name, std::size_t limit) {
    struct stat named {};
    if (fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(named.st_mode)) {
        errno = S_ISLNK(named.st_mode) ? ELOOP : S_ISDIR(named.st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    const FileDescriptor file(
        openat(dir, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
    const int fd = file.fd;
    struct stat opened {};
    if (fd < 0 || fstat(fd, &opened) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(opened.st_mode) || opened.st_ino != named.st_ino ||
        opened.st_dev != named.st_dev) {
        errno = EINVAL;
        return std::nullopt;
    }
    // Sysfs values are short: read them through a small buffer, so that the string holds only
    // what the file has, and a long file grows it a chunk at a time up to the limit.
    std::string text;
    std::array<char, 4096> chunk{};
    while (text.size() < limit) {
        const std::size_t want = std::min(chunk.size(), limit - text.size());
        const ssize_t got = read(fd, chunk.data(), want);
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return text;
}

// One read of a tree within its limits: what is left of them, and the first limit met.
class TreeBudget {
public:
    // The names in `path` within what is left of the entries; false when there are more.
    bool List(const std::string& path, std::vector<std::string>& names) {
        if (!ListDirectory(path, kMaxTreeEntries - m_entries, names)) {
            return Refuse("more than " + std::to_string(kMaxTreeEntries) +
                          " entries in its folders, the most a firmware-attributes tree may have");
        }
        m_entries += names.size();
        return true;
    }

    // Counts one attribute more; false when there are too many.
    bool CountAttribute() {
        return ++m_attributes <= kMaxTreeAttributes ||
               Refuse("more than " + std::to_string(kMaxTreeAttributes) +
                      " attributes, the most a firmware-attributes tree may have");
    }

    // The folder `path`, opened as OpenDirectory opens it, within what is left of the opens; -1
    // when it is no folder or there are no opens left.
    int Open(const std::string& path, bool follow) {
        return Opened() ? OpenDirectory(path, follow) : -1;
    }

    // A file of `dir`, without one trailing newline, read within what is left of the opens and the
    // bytes: one byte more than is left shows that the tree is too large.
    std::optional<std::string> Read(int dir, const char* name) {
        if (!Opened()) {
            errno = EMFILE;
            return std::nullopt;
        }
        std::optional<std::string> text = ReadAttributeFile(
            dir, name, std::min(kMaxAttributeFileBytes, kMaxTreeBytes - m_bytes + 1));
        if (text && std::strcmp(name, "display_name") != 0) {
            ++m_firmwareReads;
        }
        if (text) {
            m_bytes += text->size();
            if (m_bytes > kMaxTreeBytes) {
                Refuse("more than " + std::to_string(kMaxTreeBytes >> 20) +
                       " MiB in its files, the most read of a firmware-attributes tree");
            }
            if (!text->empty() && text->back() == '\n') {
                text->pop_back();
            }
        }
        return text;
    }

    const std::string& Refusal() const { return m_refusal; }
    std::size_t FirmwareReads() const { return m_firmwareReads; }

private:
    bool Refuse(std::string reason) {
        if (m_refusal.empty()) {
            m_refusal = std::move(reason);
        }
        return false;
    }

    // Counts one open more; false, refusing the tree, when there are too many.
    bool Opened() {
        return ++m_opens <= kMaxTreeOpens ||
               Refuse("more than " + std::to_string(kMaxTreeOpens) +
                      " folders and files to open, the most of a firmware-attributes tree");
    }

    std::size_t m_entries = 0;
    std::size_t m_attributes = 0;
    std::size_t m_opens = 0;
    std::size_t m_bytes = 0;
    std::size_t m_firmwareReads = 0;
    std::string m_refusal;
};

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

std::string AttributeName(const std::string& folder, const AttributeFileReader& read) {
    const std::optional<std::string> displayName = read("display_name");
    std::string name = displayName && !displayName->empty() ? *displayName : folder;
    if (name.find('\\') != std::string::npos) {
        std::string slashed = name;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        if (qzbios::IsAttributeSetting(slashed)) {
            return slashed;
        }
    }
    return name;
}

std::optional<std::string> AttributeValue(const AttributeFileReader& read, std::string& reason) {
    reason.clear();
    std::optional<std::string> current = read("current_value");
    if (!current) {
        // A setting published without a readable value: a fact to report.
        if (const int error = errno; error != ENOENT) {
            reason = std::strerror(error);
        }
        return std::nullopt;
    }
    const std::optional<std::string> type = read("type");
    if (type == "ordered-list") {
        std::replace(current->begin(), current->end(), ';', ',');
        return current;
    }
    if (type && type != "enumeration") {
        return current;  // integer, string, or a type this reader does not know
    }
    // An enumeration, or an attribute of an older kernel that has no type file: that is one when
    // it lists options, in possible_values or inline.
    const std::optional<std::string> possible = read("possible_values");
    std::vector<std::string> options = SplitOptions(possible.value_or(""));
    if (!type) {
        SplitInlineOptions(*current, options);
    }
    const bool enumeration = type ? possible.has_value() : !options.empty();
    return enumeration ? EnumerationValue(*current, options) : std::move(*current);
}

void ReadFirmwareAttributes(const std::string& root, Scope scope, Reading& reading) noexcept {
    reading.source = Source::None;
    try {
        reading.location = root;
        TreeBudget budget;
        std::vector<std::string> attributes;
        // Authentication entries become rows behind every attribute, unless the firmware publishes
        // settings of those names itself.
        std::vector<std::pair<CaptureRow, std::string>> passwords;  // and their devices
        std::set<std::string> names;  // every setting name of the tree
        // Every limit met refuses the tree through the budget: the walk goes on while none is.
        const auto within = [&budget] { return budget.Refusal().empty(); };
        budget.List(root, reading.devices);
        KeepDevices(root, reading.devices);
        for (auto device = reading.devices.begin(); within() && device != reading.devices.end();
             ++device) {
            const std::string folder = root + "/" + *device + "/attributes";
            budget.List(folder, attributes);
            for (auto entry = attributes.begin(); within() && entry != attributes.end(); ++entry) {
                const FileDescriptor dir(budget.Open(folder + "/" + *entry, false));
                if (dir.fd < 0 || !budget.CountAttribute()) {
                    continue;
                }
                const auto read = [&](const char* file) { return budget.Read(dir.fd, file); };
                std::string name = AttributeName(*entry, read);
                names.insert(name);
                if (scope == Scope::Every || qzbios::IsAttributeSetting(name)) {
                    std::string reason;
                    std::optional<std::string> value = AttributeValue(read, reason);
                    if (!reason.empty()) {
                        reading.unread[reading.rows.size()] = std::move(reason);
                    }
                    CaptureRow row{std::move(name), std::move(value)};
                    reading.rows.push_back(std::move(Delivered(row)));
                    reading.rowDevices.push_back(*device);
                }
            }
            // The administrator's password is the setup password, the system's the power-on one.
            const std::pair<const char*, std::string_view> kPasswords[] = {
                {"Admin", qzbios::SettingOfLookupKey("BIOSAPS")},
                {"System", qzbios::SettingOfLookupKey("POSTPS")}};
            for (const auto& [entry, setting] : kPasswords) {
                const FileDescriptor dir(
                    within() ? budget.Open(root + "/" + *device + "/authentication/" + entry, false)
                             : -1);
                if (dir.fd >= 0) {
                    passwords.push_back(
                        {{std::string(setting), budget.Read(dir.fd, "is_enabled")}, *device});
                }
            }
        }
        reading.firmwareReads = budget.FirmwareReads();
        if (!within()) {
            reading.rows.clear();
            reading.rowDevices.clear();
            reading.unread.clear();
            reading.refused = Refusal::Source;
            reading.refusal = budget.Refusal();
            return;
        }
        for (auto& [password, device] : passwords) {
            if (names.insert(*password.name).second) {
                reading.rows.push_back(std::move(Delivered(password)));
                reading.rowDevices.push_back(std::move(device));
            }
        }
        if (scope == Scope::Attributes) {
            reading.otherSettings = static_cast<std::size_t>(std::count_if(
                names.begin(), names.end(),
                [](const std::string& name) { return !qzbios::IsAttributeSetting(name); }));
        }
        reading.source = reading.devices.empty() ? Source::None : Source::FirmwareAttributes;
    } catch (const std::exception&) {
        reading.rows.clear();
        reading.rowDevices.clear();
        reading.unread.clear();
        reading.refused = Refusal::Memory;
    }
}

}  // namespace qz::shared::wmi
