// Windows implementation of the file, folder and location services. A file's descriptor is
// its system handle (handles fit in an int on 32-bit Windows). What the client writes needs
// no narrowing here: files and folders inherit the access rights of the user's profile, which
// is the user's own (and the administrators') by default.
#include "base/file_platform.h"

#include <windows.h>
// After windows.h, which they build on.
#include <lm.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tessel {
namespace detail {

namespace {

HANDLE toHandle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// A folder from the environment when it names one (the test sandbox sets them), else the
// shell's known folder.
std::string knownFolder(const char* variable, int csidl) {
    const char* value = std::getenv(variable);
    if (value && *value && GetFileAttributesA(value) != INVALID_FILE_ATTRIBUTES)
        return value;
    char buffer[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK)
        return std::string();
    return buffer;
}

}  // namespace

char pathSeparator() {
    return '\\';
}

int openFile(const char* path, bool read, bool write, bool create, bool truncate, bool) {
    DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    DWORD disposition = OPEN_EXISTING;
    if (create && truncate) {
        disposition = CREATE_ALWAYS;
    } else if (create) {
        disposition = OPEN_ALWAYS;
    } else if (truncate) {
        disposition = TRUNCATE_EXISTING;
    }
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    return static_cast<int>(reinterpret_cast<intptr_t>(file));
}

int64_t readFile(int fd, void* data, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(toHandle(fd), static_cast<char*>(data) + done, chunk, &got, nullptr))
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

int64_t writeFile(int fd, const void* data, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(count - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(toHandle(fd), static_cast<const char*>(data) + done, chunk, &put, nullptr))
            return done ? static_cast<int64_t>(done) : -1;
        done += put;
    }
    return static_cast<int64_t>(done);
}

void closeFile(int fd) {
    if (fd != -1)
        CloseHandle(toHandle(fd));
}

bool syncFile(int fd) {
    return FlushFileBuffers(toHandle(fd)) != 0;
}

int64_t fileSize(int fd) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(toHandle(fd), &size))
        return -1;
    return static_cast<int64_t>(size.QuadPart);
}

int64_t seekFile(int fd, int64_t offset, int whence) {
    DWORD how = whence == 0 ? FILE_BEGIN : (whence == 1 ? FILE_CURRENT : FILE_END);
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(toHandle(fd), distance, &at, how))
        return -1;
    return static_cast<int64_t>(at.QuadPart);
}

int lastError() {
    return static_cast<int>(GetLastError());
}

EntryKind entryKind(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return EntryKind::None;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return EntryKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return EntryKind::Other;
    return EntryKind::File;
}

bool renamePath(const char* from, const char* to) {
    // MoveFileA keeps a file already at the target; replace it, as a rename does on Linux.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const char* path) {
    return DeleteFileA(path) != 0;
}

bool makeDirectory(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

int narrowDirectoryToOwner(const char*) {
    // Nothing to narrow: folders in the profile carry the profile's private access rights.
    return -1;
}

std::string currentDirectory() {
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0)
        return std::string();
    std::string buffer(needed, '\0');
    DWORD length = GetCurrentDirectoryA(needed, &buffer[0]);
    if (length == 0 || length >= needed)
        return std::string();
    buffer.resize(length);
    return buffer;
}

bool changeDirectory(const char* path) {
    return SetCurrentDirectoryA(path) != 0;
}

std::vector<std::string> commandLineArguments() {
    // The system keeps one text; split it by the rules the C runtime uses for main's vector.
    std::vector<std::string> args;
    const char* p = GetCommandLineA();
    while (*p) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p)
            break;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '\\') {
                size_t slashes = 0;
                while (*p == '\\') {
                    ++slashes;
                    ++p;
                }
                if (*p == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg.push_back('"');
                        ++p;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (*p == '"') {
                quoted = !quoted;
                ++p;
            } else {
                arg.push_back(*p++);
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string homeDirectory() {
    return knownFolder("USERPROFILE", CSIDL_PROFILE);
}

std::string configDirectory() {
    return knownFolder("APPDATA", CSIDL_APPDATA);
}

std::string localDataDirectory() {
    return knownFolder("LOCALAPPDATA", CSIDL_LOCAL_APPDATA);
}

OsInfo osSurvey(const char*) {
    OsInfo info;
    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    bool known = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)) != 0;
    if (!known) {
        extended = OSVERSIONINFOEXA{};
        extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        known = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)) != 0;
    }
#pragma GCC diagnostic pop
    info.major = static_cast<int>(extended.dwMajorVersion);
    info.minor = static_cast<int>(extended.dwMinorVersion);
    // The workstation service reports the real version where the version call is told a
    // compatible one.
    WKSTA_INFO_100* station = nullptr;
    if (NetWkstaGetInfo(nullptr, 100, reinterpret_cast<LPBYTE*>(&station)) == NERR_Success &&
        station) {
        info.major = static_cast<int>(station->wki100_ver_major);
        info.minor = static_cast<int>(station->wki100_ver_minor);
    }
    if (station)
        NetApiBufferFree(station);
    info.name = osNameOf(static_cast<int>(extended.dwPlatformId), info.major, info.minor);
    if (known) {
        info.servicePack = "Service Pack " + std::to_string(extended.wServicePackMajor) + "." +
                           std::to_string(extended.wServicePackMinor);
    }
    return info;
}

}  // namespace detail
}  // namespace tessel
