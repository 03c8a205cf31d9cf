// What files, folders and the system survey need from the system (implemented by unix/ and
// windows/file_platform.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessel {
namespace detail {

// The separator of the system's paths; the other one ("/" or "\\") is turned into it before
// the system sees a path.
char pathSeparator();

// Files. Descriptors are plain ints; -1 means failure (see lastError()).
// A file opened for writing is made the user's alone (0600, whatever the umask or its former
// mode) unless `shared`, which creates it readable by others (0644 less the umask) and leaves
// an existing file's mode as it is.
int openFile(const char* path, bool read, bool write, bool create, bool truncate,
             bool shared = false);
int64_t readFile(int fd, void* data, uint64_t count);         // bytes read, -1 on error
int64_t writeFile(int fd, const void* data, uint64_t count);  // bytes written, -1 on error
void closeFile(int fd);
bool syncFile(int fd);
int64_t fileSize(int fd);
// whence: 0 from the start, 1 from the current position, 2 from the end.
int64_t seekFile(int fd, int64_t offset, int whence);
int lastError();

enum class EntryKind { None, File, Directory, Other };
EntryKind entryKind(const char* path);
bool renamePath(const char* from, const char* to);
bool removeFile(const char* path);
// Creates one folder, the user's alone (0700 whatever the umask).
bool makeDirectory(const char* path);
// Narrows a folder that this user owns and others may enter or read to 0700. Returns its
// former permission bits when it was narrowed, -1 otherwise.
int narrowDirectoryToOwner(const char* path);

std::string currentDirectory();
bool changeDirectory(const char* path);
// The arguments of this process, as the system started it.
std::vector<std::string> commandLineArguments();
// The user's home folder ($HOME, else the password database); empty when unknown.
std::string homeDirectory();
// The user's configuration folder ($XDG_CONFIG_HOME, else home + "/.config").
std::string configDirectory();
// The user's local (not roaming) application data folder where the system has one
// (%LOCALAPPDATA% on Windows); empty on Linux.
std::string localDataDirectory();

struct OsInfo {
    std::string name;  // PRETTY_NAME of os-release, else system name and release
    int major = 0;     // kernel version
    int minor = 0;
    std::string servicePack;  // "Service Pack N.M" where the system has them; else empty
};
// The name of a Windows release from the platform identifier and version of the version
// call (portable, in file.cpp, so that both builds test it).
std::string osNameOf(int platformId, int major, int minor);
// `osReleasePath` is the os-release file to read (tests give their own; Windows ignores it).
OsInfo osSurvey(const char* osReleasePath = "/etc/os-release");

}  // namespace detail
}  // namespace tessel
