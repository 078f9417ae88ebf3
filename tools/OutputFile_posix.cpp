#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "common/FileDescriptor.h"
#include "tools/OutputFile.h"

namespace qz::tools {

using shared::common::FileDescriptor;

namespace {

// The temporary file while it exists, as its folder's descriptor and its name there, for the signal
// handler to remove.
constexpr std::size_t kTemporaryNameSize = sizeof ".qzbios-XXXXXXXXXXXX";
char g_temporary[kTemporaryNameSize] = {};
volatile sig_atomic_t g_folder = -1;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void RemoveTemporaryAndDie(int signal) {
    if (g_folder >= 0) {
        unlinkat(g_folder, g_temporary, 0);
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigaction(signal, &standard, nullptr);
    raise(signal);
}

// Makes a temporary file in a folder and removes it if a signal ends the run while it exists.
class TemporaryFile {
public:
    explicit TemporaryFile(int folder) : m_folder(folder) {
        struct sigaction handler {};
        handler.sa_handler = RemoveTemporaryAndDie;
        sigemptyset(&handler.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], &handler, &m_previous[i]);
        }
    }
    ~TemporaryFile() {
        if (!m_kept && g_folder >= 0) {
            unlinkat(m_folder, g_temporary, 0);
        }
        g_folder = -1;
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], &m_previous[i], nullptr);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates a new file of a random hidden name (which a collector looking for *.prom passes
    // over, and which fits beside a name of any length), mode 0600 until it is complete. The
    // signals are held until the handler knows its name.
    int Create() {
        sigset_t held;
        sigset_t previous;
        sigemptyset(&held);
        for (const int signal : kSignals) {
            sigaddset(&held, signal);
        }
        sigprocmask(SIG_BLOCK, &held, &previous);
        int fd = -1;
        for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
            unsigned char random[12] = {};
            if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
                break;
            }
            static const char kLetters[] =
                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
            std::snprintf(g_temporary, sizeof g_temporary, ".qzbios-");
            for (std::size_t i = 0; i < sizeof random; ++i) {
                g_temporary[8 + i] = kLetters[random[i] % 64];
            }
            fd = openat(m_folder, g_temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0600);
            if (fd < 0 && errno != EEXIST) {
                break;
            }
        }
        const int saved = errno;
        g_folder = fd >= 0 ? m_folder : -1;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = saved;
        return fd;
    }

    const char* Name() const { return g_temporary; }

    // The file is in place under its final name: nothing to remove.
    void Keep() { m_kept = true; }

private:
    int m_folder;
    bool m_kept = false;
    struct sigaction m_previous[std::size(kSignals)] = {};
};

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

// What stands at a name that is not a regular file, for the message that refuses it.
const char* Kind(mode_t mode) {
    return S_ISLNK(mode)    ? "a symbolic link"
           : S_ISDIR(mode)  ? "a folder"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISSOCK(mode) ? "a socket"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
                            : "not a regular file";
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

namespace {

// The folder `path`, opened for reading without following a link at any of its components: each is
// opened in the one before it, never through a link. -1 with `error` set otherwise.
int OpenFolderWithoutLinks(const std::string& path, std::string& error) {
    int dir = open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::string walked = path[0] == '/' ? "/" : "";
    for (std::size_t begin = 0; dir >= 0 && begin < path.size();) {
        std::size_t end = path.find('/', begin);
        end = end == std::string::npos ? path.size() : end;
        const std::string component = path.substr(begin, end - begin);
        begin = end + 1;
        if (component.empty() || component == ".") {
            continue;
        }
        walked += (walked.empty() || walked.back() == '/' ? "" : "/") + component;
        const int next =
            openat(dir, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (next < 0 && fstatat(dir, component.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            error = "'" + walked +
                    "' is a symbolic link, and qzbios-dump follows no link on the "
                    "way to its output (name the folder it leads to)";
            close(dir);
            return -1;
        }
        close(dir);
        dir = next;
    }
    const int folder = dir < 0 ? -1 : openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        error = std::strerror(errno);
    }
    if (dir >= 0) {
        close(dir);
    }
    return folder;
}

// What the output's folder and name are, and what stands at the name: false, with `error` set,
// when the name is no file's, the folder cannot be opened, or something other than a regular file
// stands there.
bool LookAtTarget(const std::string& path, int& folder, std::string& folderPath, std::string& name,
                  std::optional<struct stat>& existing, std::string& error) {
    const std::size_t slash = path.rfind('/');
    folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        error = "it names a folder, not a file";
        return false;
    }
    folder = OpenFolderWithoutLinks(folderPath, error);
    if (folder < 0) {
        error = "cannot open the folder '" + folderPath + "': " + error;
        return false;
    }
    // Everything from here on is relative to the folder, and the name itself is never followed.
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        existing = info;
    } else if (errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    if (existing && !S_ISREG(existing->st_mode)) {
        error = std::string(Kind(existing->st_mode)) +
                " stands at that name: qzbios-dump replaces only a regular file, and follows no "
                "link (remove it, or name the file itself)";
        return false;
    }
    return true;
}

// The mode of the file that replaces `existing`: its own without the setuid, setgid and sticky
// bits, or 0666 less the umask for a new file.
mode_t ModeFor(const std::optional<struct stat>& existing) {
    if (existing) {
        return existing->st_mode & 0777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
    int folderFd = -1;
    std::string folderPath;
    std::string name;
    std::optional<struct stat> existing;
    const bool looked = LookAtTarget(path, folderFd, folderPath, name, existing, error);
    const FileDescriptor folder(folderFd);
    if (!looked) {
        return false;
    }
    TemporaryFile temporary(folder.fd);
    const FileDescriptor file(temporary.Create());
    if (file.fd < 0) {
        error = "cannot make a temporary file in the folder '" + folderPath +
                "': " + std::strerror(errno);
        return false;
    }
    // The group is kept where this user may set it (a sandbox may forbid even that: the file then
    // keeps this user's group); the file is never given to another owner.
    if (existing && fchown(file.fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
        // Nothing else to do: the file is written all the same.
    }
    const char* failed = nullptr;
    if (!WriteAll(file.fd, text)) {
        failed = "writing";
    } else if (fchmod(file.fd, ModeFor(existing)) != 0) {
        failed = "setting the mode of";
    } else if (fsync(file.fd) != 0) {
        failed = "flushing";
    } else if (renameat(folder.fd, temporary.Name(), folder.fd, name.c_str()) != 0) {
        failed = "renaming into place";
    }
    if (failed != nullptr) {
        error = std::string(failed) + " the temporary file '" + folderPath + "/" +
                temporary.Name() + "': " + std::strerror(errno);
        return false;
    }
    temporary.Keep();
    // The rename is on disk only once the folder is.
    fsync(folder.fd);
    return true;
}

}  // namespace qz::tools
