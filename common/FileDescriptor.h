// A file descriptor closed when it goes out of scope.
#pragma once

#include <unistd.h>

namespace qz::shared::common {

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

}  // namespace qz::shared::common
