// Windows side of the log: opening the log file safely, and the debugger's output channel.
#include "base/console_platform.h"

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

namespace tessel {
namespace detail {

namespace {

// One piece of the calling process's token (TokenUser, TokenOwner); empty on failure.
std::vector<char> tokenInformation(TOKEN_INFORMATION_CLASS kind) {
    std::vector<char> data;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return data;
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size > 0) {
        data.resize(size);
        if (!GetTokenInformation(token, kind, data.data(), size, &size))
            data.clear();
    }
    CloseHandle(token);
    return data;
}

// Whether `owner` is this user: the user's own account, or the Administrators group when the
// process is elevated and new objects get that group as their owner.
bool ownedByThisUser(PSID owner) {
    if (!owner || !IsValidSid(owner))
        return false;
    std::vector<char> user = tokenInformation(TokenUser);
    if (!user.empty() && EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid))
        return true;
    std::vector<char> defaultOwner = tokenInformation(TokenOwner);
    if (defaultOwner.empty())
        return false;
    PSID tokenOwner = reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner;
    return IsWellKnownSid(tokenOwner, WinBuiltinAdministratorsSid) && EqualSid(owner, tokenOwner);
}

// Whether the folder that holds `native` (a path with "\\") belongs to this user. Another
// user's folder could hold a file or link planted for us, or let its owner read the log.
bool folderOwnedByThisUser(const std::string& native) {
    size_t cut = native.find_last_of("\\:");
    std::string folder;
    if (cut == std::string::npos)
        folder = ".";
    else if (native[cut] == ':' || cut == 0 || native[cut - 1] == ':')
        folder = native.substr(0, cut + 1);  // a drive's or the current drive's root
    else
        folder = native.substr(0, cut);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool mine = ownedByThisUser(owner);
    LocalFree(descriptor);
    return mine;
}

bool fileOwnedByThisUser(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool mine = ownedByThisUser(owner);
    LocalFree(descriptor);
    return mine;
}

}  // namespace

FILE* openLogFile(const char* path) {
    std::string native(path);
    for (char& c : native) {
        if (c == '/')
            c = '\\';
    }
    // The log goes only into a folder of this user's (a missing folder fails here too).
    if (!folderOwnedByThisUser(native))
        return nullptr;
    // Every level may open the same file: the share mode lets the other handles write too.
    // A reparse point (link or junction) planted at the path is opened as itself, never
    // followed, and then refused; so is anything but a plain disk file with one name that
    // belongs to this user.
    HANDLE file =
        CreateFileA(native.c_str(), GENERIC_WRITE | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        info.nNumberOfLinks != 1 || !fileOwnedByThisUser(file) || !SetEndOfFile(file)) {
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
