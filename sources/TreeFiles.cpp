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

// The names in the folder `dir`, sorted, without "." and ".."; empty when it cannot be read. False
// when it holds more than `limit` names: the listing stops there.
bool ListDirectory(int dir, std::size_t limit, std::vector<std::string>& names) {
    names.clear();
    const int copy = dir < 0 ? -1 : fcntl(dir, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, int (*)(DIR*)> stream(copy < 0 ? nullptr : fdopendir(copy), &closedir);
    if (!stream) {
        if (copy >= 0) {
            close(copy);
        }
        return true;
    }
    while (const dirent* entry = readdir(stream.get())) {
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

// The device `name` of the tree's folder `root`, opened to be listed: a folder, or a link to one
// that root or this user made, as the kernel's class folder links its devices; -1 otherwise.
int OpenDevice(int root, const char* name) {
    struct stat entry {};
    if (fstatat(root, name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        return -1;
    }
    if (S_ISLNK(entry.st_mode) && entry.st_uid != 0 && entry.st_uid != geteuid()) {
        errno = ELOOP;
        return -1;
    }
    return openat(root, name, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
}

// The folder `name` of `dir`, never through a link: opened to be listed, or only to look names up
// in it (it need not be readable then). Files in it are then opened relative to it, so that the
// kernel walks the long path of an attribute once rather than once per file.
int OpenFolder(int dir, const char* name, bool listed) {
    return openat(dir, name,
                  (listed ? O_RDONLY | O_NONBLOCK : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

void KeepDevices(int root, std::vector<std::string>& names) {
    names.erase(
        std::remove_if(names.begin(), names.end(),
                       [root](const std::string& device) {
                           const FileDescriptor folder(OpenDevice(root, device.c_str()));
                           const FileDescriptor attributes(
                               folder.fd < 0 ? -1 : OpenFolder(folder.fd, "attributes", false));
                           return attributes.fd < 0;
                       }),
        names.end());
}

bool TreeBudget::List(int dir, std::vector<std::string>& names) {
    if (!ListDirectory(dir, kMaxTreeEntries - m_entries, names)) {
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

int TreeBudget::OpenRoot(const std::string& path) {
    return Opened() ? open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC) : -1;
}

int TreeBudget::OpenDevice(int root, const std::string& name) {
    return Opened() ? sources::OpenDevice(root, name.c_str()) : -1;
}

int TreeBudget::OpenFolder(int dir, const char* name, bool listed) {
    return dir >= 0 && Opened() ? sources::OpenFolder(dir, name, listed) : -1;
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
