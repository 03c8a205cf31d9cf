// Linux implementation of the private key file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vexlan-sign/keyfile.h"

bool writePrivateFile(const std::string& path, const std::string& content, bool replace,
                      std::string& error) {
    if (replace && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::strerror(errno);
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = std::strerror(errno);
        ::unlink(path.c_str());
        return false;
    }
    return true;
}
