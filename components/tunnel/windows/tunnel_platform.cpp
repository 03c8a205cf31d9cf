// The sample tunnel's system services on Windows. Files in the user's profile are private to
// the user by the profile's own access rules.
#include <windows.h>

#include "tunnel_platform.h"

namespace tunnel {

void localTime(std::time_t when, std::tm& local) {
    localtime_s(&local, &when);
}

bool writePrivateFile(const std::string& path, const std::string& text) {
    // A link planted at the path is removed, never written through.
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !DeleteFileA(path.c_str()))
        return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        DWORD written = 0;
        ok = WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                       nullptr) &&
             written > 0;
        done += written;
    }
    return CloseHandle(file) && ok;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace tunnel
