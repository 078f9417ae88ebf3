// Capture files read from disk or a stream, within the capture's limits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "common/FileDescriptor.h"
#include "sources/Capture.h"
#include "sources/CaptureMessages.h"

namespace qz::shared::sources {

using common::FileDescriptor;

namespace {

#if defined(_WIN32)
constexpr int kCloseOnExec = O_BINARY | O_NOINHERIT;
constexpr int kNoTerminal = 0;
#else
constexpr int kCloseOnExec = O_CLOEXEC;
constexpr int kNoTerminal = O_NOCTTY;
#endif

// Reads what is left of `fd`, at most kMaxCaptureBytes, and parses it.
bool ReadAndParse(int fd, std::vector<SettingRow>& rows, std::string& error) noexcept {
    return Guarded(error, "out of memory while reading it", [&] {
        std::string text;
        char buffer[65536];
        for (;;) {
            const auto got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                error = std::strerror(errno);
                return false;
            }
            if (got == 0) {
                break;
            }
            const auto size = static_cast<std::size_t>(got);
            if (text.size() + size > kMaxCaptureBytes) {
                error = CaptureTooLarge();
                return false;
            }
            text.append(buffer, size);
        }
        if (text.empty()) {
            error = "the file is empty";
            return false;
        }
        return ParseCapture(text, rows, error);
    });
}

bool IsRegular(int fd, struct stat& info) {
    return fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
}

#if defined(_WIN32)
// Windows has no devices to open by a file's name, nor links that a user swaps in.
int OpenRegularFile(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | kCloseOnExec);
    struct stat info {};
    if (fd >= 0 && !IsRegular(fd, info)) {
        close(fd);
        error = "not a regular file";
        return -1;
    }
    return fd;
}
#else
// The regular file `path`, open for reading; -1 with `error` set for anything else. The name is
// opened first as a path alone (O_PATH, which acts on nothing: a device is never opened), never
// through a link at its last component; only when that is a regular file is it opened for reading,
// through the descriptor itself, so that a name swapped meanwhile changes nothing. Without /proc,
// the name is opened again without following a link or waiting, and must still be that file.
int OpenRegularFile(const std::string& path, std::string& error) {
    const FileDescriptor named(open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (named.fd < 0 || fstat(named.fd, &info) != 0) {
        SetError(error,
                 errno == ELOOP ? "a symbolic link, which is not followed" : std::strerror(errno));
        return -1;
    }
    if ((info.st_mode & S_IFMT) != S_IFREG) {
        SetError(error, S_ISLNK(info.st_mode) ? "a symbolic link, which is not followed"
                                              : "not a regular file");
        return -1;
    }
    char self[64] = {};
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", named.fd);
    int fd = open(self, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    }
    struct stat opened {};
    if (fd >= 0 &&
        (!IsRegular(fd, opened) || opened.st_ino != info.st_ino || opened.st_dev != info.st_dev)) {
        close(fd);
        errno = EINVAL;
        fd = -1;
    }
    if (fd < 0) {
        SetError(error, errno == EINVAL ? "not a regular file" : std::strerror(errno));
    }
    return fd;
}
#endif

}  // namespace

bool LoadCaptureFile(const std::string& path, std::vector<SettingRow>& rows,
                     std::string& error) noexcept {
    const FileDescriptor file(OpenRegularFile(path, error));
    return file.fd >= 0 && ReadAndParse(file.fd, rows, error);
}

bool ReadCapture(const std::string& path, std::vector<SettingRow>& rows,
                 std::string& error) noexcept {
    if (path == "-") {
        return ReadAndParse(STDIN_FILENO, rows, error);
    }
    const FileDescriptor file(open(path.c_str(), O_RDONLY | kCloseOnExec | kNoTerminal));
    if (file.fd < 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    return ReadAndParse(file.fd, rows, error);
}

}  // namespace qz::shared::sources
