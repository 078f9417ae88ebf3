#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "OutputFile.h"

namespace qz::tools {

bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error) {
    // A hidden name in the same folder (a rename does not cross file systems), which a collector
    // looking for *.prom passes over.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string temporary = folder + "." + path.substr(folder.size()) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t wrote = write(fd, text.data() + written, text.size() - written);
        if (wrote < 0 && errno != EINTR) {
            break;
        }
        written += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    const bool ok = written == text.size() && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
    const int saved = errno;
    if (close(fd) != 0 || !ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(ok ? errno : saved);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace qz::tools
