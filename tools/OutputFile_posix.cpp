#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "OutputFile.h"

namespace qz::tools {

namespace {

// The temporary file while it exists, for the signal handler to remove.
char g_temporary[PATH_MAX + 1] = {};
volatile sig_atomic_t g_haveTemporary = 0;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void RemoveTemporaryAndDie(int signal) {
    if (g_haveTemporary != 0) {
        unlink(g_temporary);
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(signal, &standard, nullptr);
    raise(signal);
}

// Removes the temporary file if a signal ends the run while it exists.
class TemporaryGuard {
public:
    TemporaryGuard() {
        struct sigaction handler {};
        handler.sa_handler = RemoveTemporaryAndDie;
        sigemptyset(&handler.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], &handler, &m_previous[i]);
        }
    }
    ~TemporaryGuard() {
        g_haveTemporary = 0;
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], &m_previous[i], nullptr);
        }
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;

    // Makes the temporary file from `pattern` (mkstemp's), with the signals held until the
    // handler knows its name.
    int Create(std::string& pattern) {
        sigset_t held;
        sigset_t previous;
        sigemptyset(&held);
        for (const int signal : kSignals) {
            sigaddset(&held, signal);
        }
        sigprocmask(SIG_BLOCK, &held, &previous);
        const int fd = mkostemp(pattern.data(), O_CLOEXEC);
        const int saved = errno;
        if (fd >= 0) {
            std::snprintf(g_temporary, sizeof g_temporary, "%s", pattern.c_str());
            g_haveTemporary = 1;
        }
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = saved;
        return fd;
    }

private:
    struct sigaction m_previous[std::size(kSignals)] = {};
};

// A FIFO, a terminal or a device opened for writing; a socket connected to.
int OpenForWriting(const std::string& path, const struct stat& info) {
    if (!S_ISSOCK(info.st_mode)) {
        return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t wrote = write(fd, text.data() + written, text.size() - written);
        if (wrote < 0 && errno != EINTR) {
            return false;
        }
        written += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    return true;
}

// The file a chain of symbolic links ends at, the links' targets taken relative to their folders;
// `path` itself when it is no link. False when the chain is longer than the system allows.
bool FollowLinks(std::string& path) {
    for (int hop = 0; hop <= 40; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        char target[PATH_MAX + 1] = {};
        const ssize_t length = readlink(path.c_str(), target, PATH_MAX);
        if (length < 0) {
            return false;
        }
        const std::size_t slash = path.rfind('/');
        path =
            target[0] == '/' || slash == std::string::npos
                ? std::string(target, static_cast<std::size_t>(length))
                : path.substr(0, slash + 1) + std::string(target, static_cast<std::size_t>(length));
    }
    errno = ELOOP;
    return false;
}

// Whether the file open at `fd` already has the owner and group of `existing`: a sandbox that
// forbids chown still keeps a file's owner and group when they need no change.
bool SameOwner(int fd, const struct stat& existing) {
    struct stat made {};
    return fstat(fd, &made) == 0 && made.st_uid == existing.st_uid &&
           made.st_gid == existing.st_gid;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
    struct stat existing {};
    const bool exists = stat(path.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        // A FIFO, a terminal, a device or a socket: there is nothing to replace, only to write to.
        const int fd = OpenForWriting(path, existing);
        const bool ok = fd >= 0 && WriteAll(fd, text);
        error = std::strerror(errno);
        return (fd < 0 || close(fd) == 0) && ok;
    }
    // The file the name stands for: a link stays a link, and its target is replaced.
    std::string target = path;
    char resolved[PATH_MAX + 1] = {};
    if (exists ? realpath(path.c_str(), resolved) == nullptr : !FollowLinks(target)) {
        error = std::strerror(errno);
        return false;
    }
    if (exists) {
        target = resolved;
    }
    // A short hidden name in the same folder (a rename does not cross file systems), which a
    // collector looking for *.prom passes over, and which fits beside a name of any length.
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    std::string temporary = folder + "/.qzbios-XXXXXX";
    TemporaryGuard guard;
    const int fd = guard.Create(temporary);
    if (fd < 0) {
        error =
            "cannot make a temporary file in the folder '" + folder + "': " + std::strerror(errno);
        return false;
    }
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const char* failed = nullptr;
    if (!WriteAll(fd, text)) {
        failed = "writing";
    } else if (exists && !SameOwner(fd, existing) &&
               fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        failed = "giving the owner and group of the file it replaces to";
    } else if (fchmod(fd, mode) != 0) {
        failed = "setting the mode of";
    } else if (fsync(fd) != 0) {
        failed = "flushing";
    }
    int saved = errno;
    if (close(fd) != 0 && failed == nullptr) {
        failed = "closing";
        saved = errno;
    }
    if (failed == nullptr && std::rename(temporary.c_str(), target.c_str()) != 0) {
        failed = "renaming into place";
        saved = errno;
    }
    if (failed != nullptr) {
        error = std::string(failed) + " the temporary file '" + temporary +
                "': " + std::strerror(saved);
        unlink(temporary.c_str());
        return false;
    }
    // The rename is on disk only once the folder is.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace qz::tools
