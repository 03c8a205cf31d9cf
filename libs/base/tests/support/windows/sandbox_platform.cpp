// Windows side of the test helpers. A folder made in the user's temporary folder is private
// through the profile's access rights.
#include "sandbox_platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace vexlan::testing::detail {

std::string makeTempDir() {
    char base[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("GetTempPathA failed");
    // A name unique to this process and call, retried while it exists: CreateDirectoryA fails
    // on an existing folder, so a folder is never shared.
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "vexlan-test-%lx-%lx-%lx", GetCurrentProcessId(),
                      static_cast<unsigned long>(GetTickCount()),
                      static_cast<unsigned long>(InterlockedIncrement(&counter)));
        std::string path = std::string(base) + name;
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error("cannot make a temporary folder");
}

void setEnvironment(const char* name, const char* value) {
    // Both copies: the C runtime's (getenv) and the system's (child processes, shell calls).
    _putenv_s(name, value ? value : "");
    SetEnvironmentVariableA(name, value);
}

std::vector<std::pair<std::string, std::string>> sandboxVariables(const std::string& home) {
    return {{"USERPROFILE", home},
            {"APPDATA", home + "\\AppData\\Roaming"},
            {"LOCALAPPDATA", home + "\\AppData\\Local"}};
}

}  // namespace vexlan::testing::detail
