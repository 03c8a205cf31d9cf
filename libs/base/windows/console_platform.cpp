// Windows side of the log: opening the log file safely, and the debugger's output channel.
#include "base/console_platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

namespace tessel {
namespace detail {

FILE* openLogFile(const char* path) {
    std::string native(path);
    for (char& c : native) {
        if (c == '/')
            c = '\\';
    }
    // A reparse point (link or junction) planted at the path is opened as itself, never
    // followed, and then refused; so is anything but a plain disk file with one name.
    HANDLE file = CreateFileA(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        info.nNumberOfLinks != 1 || !SetEndOfFile(file)) {
        CloseHandle(file);
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, "ab");
    if (!stream)
        _close(fd);
    return stream;
}

void debuggerOutput(const char* text) {
    OutputDebugStringA(text);
}

}  // namespace detail
}  // namespace tessel
