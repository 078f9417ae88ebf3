#include "sources/TreeFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "common/FileDescriptor.h"
#include "sources/FirmwareAttributes.h"

namespace qz::shared::sources {

namespace {

using common::FileDescriptor;

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

}  // namespace

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

bool TreeBudget::List(const std::string& path, std::vector<std::string>& names) {
    if (!ListDirectory(path, kMaxTreeEntries - m_entries, names)) {
        return Refuse("more than " + std::to_string(kMaxTreeEntries) +
                      " entries in its folders, the most a firmware-attributes tree may have");
    }
    m_entries += names.size();
    return true;
}

bool TreeBudget::CountAttribute() {
    return ++m_attributes <= kMaxTreeAttributes ||
           Refuse("more than " + std::to_string(kMaxTreeAttributes) +
                  " attributes, the most a firmware-attributes tree may have");
}

int TreeBudget::Open(const std::string& path, bool follow) {
    return Opened() ? OpenDirectory(path, follow) : -1;
}

std::optional<std::string> TreeBudget::Read(int dir, const char* name) {
    if (!Opened()) {
        errno = EMFILE;
        return std::nullopt;
    }
    std::optional<std::string> text =
        ReadAttributeFile(dir, name, std::min(kMaxAttributeFileBytes, kMaxTreeBytes - m_bytes + 1));
    if (!text) {
        return text;
    }
    if (std::strcmp(name, "display_name") != 0) {
        ++m_firmwareReads;
    }
    m_bytes += text->size();
    if (m_bytes > kMaxTreeBytes) {
        Refuse("more than " + std::to_string(kMaxTreeBytes >> 20) +
               " MiB in its files, the most read of a firmware-attributes tree");
    }
    if (!text->empty() && text->back() == '\n') {
        text->pop_back();
    }
    return text;
}

bool TreeBudget::Refuse(std::string reason) {
    if (m_refusal.empty()) {
        m_refusal = std::move(reason);
    }
    return false;
}

// Counts one open more; false, refusing the tree, when there are too many.
bool TreeBudget::Opened() {
    return ++m_opens <= kMaxTreeOpens ||
           Refuse("more than " + std::to_string(kMaxTreeOpens) +
                  " folders and files to open, the most of a firmware-attributes tree");
}

}  // namespace qz::shared::sources
