// Capture files read from disk or a stream, within the capture's limits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
constexpr int kNoWait = 0;
constexpr int kNoTerminal = 0;
#else
constexpr int kCloseOnExec = O_CLOEXEC;
constexpr int kNoWait = O_NONBLOCK;
constexpr int kNoTerminal = O_NOCTTY;
#endif

// Reads what is left of `fd`, at most kMaxCaptureBytes, and parses it.
bool ReadAndParse(int fd, std::vector<SettingRow>& rows, std::string& error) noexcept {
    try {
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
    } catch (const std::bad_alloc&) {
        SetError(error, "out of memory while reading it");
    } catch (const std::exception& e) {
        SetError(error, e.what());
    }
    return false;
}

bool IsRegular(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
}

}  // namespace

bool LoadCaptureFile(const std::string& path, std::vector<SettingRow>& rows,
                     std::string& error) noexcept {
    // Looked at before it is opened, so that a device is never opened, and confirmed on the
    // descriptor, which is opened without waiting: a name swapped for a FIFO in between is refused
    // rather than waited on.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    if ((info.st_mode & S_IFMT) != S_IFREG) {
        SetError(error, "not a regular file");
        return false;
    }
    const FileDescriptor file(open(path.c_str(), O_RDONLY | kCloseOnExec | kNoWait | kNoTerminal));
    if (file.fd < 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    if (!IsRegular(file.fd)) {
        SetError(error, "not a regular file");
        return false;
    }
    return ReadAndParse(file.fd, rows, error);
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
