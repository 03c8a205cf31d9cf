// Windows implementation of the private key file: created fresh, never through an existing
// file, and written completely before it counts. The file inherits the access rules of its
// folder; in the user's profile only the user (and the administrators) can read it.
#include <windows.h>

#include <algorithm>
#include <string>

#include "vexlan-sign/keyfile.h"

namespace {

std::string systemError() {
    return "#" + std::to_string(GetLastError());
}

}  // namespace

bool writePrivateFile(const std::string& path, const std::string& content, bool replace,
                      std::string& error) {
    std::string systemPath = path;
    for (char& c : systemPath) {
        if (c == '/')
            c = '\\';
    }
    if (replace && !DeleteFileA(systemPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        error = systemError();
        return false;
    }
    // No sharing while it is written: nobody reads a half-written key.
    HANDLE file = CreateFileA(systemPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = systemError();
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < content.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1 << 20));
        ok = WriteFile(file, content.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    if (!ok)
        error = systemError();
    if (!CloseHandle(file) && ok) {
        error = systemError();
        ok = false;
    }
    if (!ok)
        DeleteFileA(systemPath.c_str());
    return ok;
}
