// Linux implementation of the file, folder and location services.
#include "base/file_platform.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tessel {
namespace detail {

namespace {

constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kSharedFileMode = 0644;

// Gives a file or folder of ours exactly `mode`: the umask may have taken more than the
// group's and others' bits, and a file that already existed may be wider.
bool holdMode(int fd, const struct stat& st, mode_t mode) {
    if ((st.st_mode & 07777) == mode || st.st_uid != geteuid())
        return true;
    return fchmod(fd, mode) == 0;
}

}  // namespace

char pathSeparator() {
    return '/';
}

int openFile(const char* path, bool read, bool write, bool create, bool truncate, bool shared) {
    // Non-blocking only while opening, so that a pipe without a writer cannot hang us.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= (read && write) ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
    if (create)
        flags |= O_CREAT;
    if (truncate)
        flags |= O_TRUNC;
    int fd;
    do {
        fd = ::open(path, flags, shared ? kSharedFileMode : kPrivateFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    // What we write is ours alone, whatever the umask and whatever mode an older file had.
    if (write && !shared && S_ISREG(st.st_mode) && !holdMode(fd, st, kPrivateFileMode)) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int64_t readFile(int fd, void* data, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, static_cast<char*>(data) + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t writeFile(int fd, const void* data, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, static_cast<const char*>(data) + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return done ? static_cast<int64_t>(done) : -1;
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

void closeFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

bool syncFile(int fd) {
    return fsync(fd) == 0;
}

int64_t fileSize(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t seekFile(int fd, int64_t offset, int whence) {
    int how = whence == 0 ? SEEK_SET : (whence == 1 ? SEEK_CUR : SEEK_END);
    return static_cast<int64_t>(lseek(fd, static_cast<off_t>(offset), how));
}

int lastError() {
    return errno;
}

EntryKind entryKind(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0)
        return EntryKind::None;
    if (S_ISDIR(st.st_mode))
        return EntryKind::Directory;
    if (S_ISREG(st.st_mode))
        return EntryKind::File;
    return EntryKind::Other;
}

bool renamePath(const char* from, const char* to) {
    return ::rename(from, to) == 0;
}
bool removeFile(const char* path) {
    return ::unlink(path) == 0;
}
bool makeDirectory(const char* path) {
    if (::mkdir(path, kPrivateFolderMode) != 0)
        return false;
    // Only the folder just made is touched: never through a link put in its place.
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && holdMode(fd, st, kPrivateFolderMode);
    ::close(fd);
    return ok;
}

int narrowDirectoryToOwner(const char* path) {
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    int former = -1;
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) != 0 &&
        fchmod(fd, kPrivateFolderMode) == 0) {
        former = static_cast<int>(st.st_mode & 07777);
    }
    ::close(fd);
    return former;
}

std::string currentDirectory() {
    std::string buffer(4096, '\0');
    while (!getcwd(&buffer[0], buffer.size())) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

bool changeDirectory(const char* path) {
    return chdir(path) == 0;
}

std::vector<std::string> commandLineArguments() {
    std::vector<std::string> args;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string arg;
    while (std::getline(in, arg, '\0'))
        args.push_back(arg);
    return args;
}

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return std::string();
}

std::string configDirectory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return config;
    std::string home = homeDirectory();
    return home.empty() ? std::string() : home + "/.config";
}

std::string localDataDirectory() {
    return std::string();
}

namespace {

// The value of an os-release assignment: quotes removed and, inside double quotes, the
// shell escapes \\, \", \$ and \` resolved.
std::string osReleaseValue(const std::string& raw) {
    if (raw.empty() || (raw.front() != '"' && raw.front() != '\''))
        return raw;
    char quote = raw.front();
    std::string value;
    for (size_t i = 1; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == quote)
            break;
        if (quote == '"' && c == '\\' && i + 1 < raw.size() &&
            std::strchr("\\\"$`", raw[i + 1]) != nullptr) {
            c = raw[++i];
        }
        value.push_back(c);
    }
    return value;
}

}  // namespace

OsInfo osSurvey(const char* osReleasePath) {
    OsInfo info;
    struct utsname uts {};
    if (uname(&uts) == 0) {
        std::sscanf(uts.release, "%d.%d", &info.major, &info.minor);
        info.name = std::string(uts.sysname) + " " + uts.release;
    }
    std::ifstream release(osReleasePath);
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0)
            continue;
        std::string value = osReleaseValue(line.substr(12));
        if (!value.empty())
            info.name = value;
        break;
    }
    return info;
}

}  // namespace detail
}  // namespace tessel
