// Windows implementation of the dynamic-library services: the "#" + error number of the
// system is the explanation of a failure.
#include <windows.h>

#include <string>

#include "vexlanclient/moduleloader_platform.h"

namespace vexlan {
namespace detail {
namespace {

std::string lastError() {
    return "#" + std::to_string(GetLastError());
}

}  // namespace

void* openModule(const char* path, std::string& error) {
    std::string systemPath = path;
    for (char& c : systemPath) {
        if (c == '/')
            c = '\\';
    }
    // The system searches its library folders for a relative path (".\\name.dll" included) and
    // may take a system library of the same name: the full path names the verified file only.
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(systemPath.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) {
        error = length ? "#" + std::to_string(ERROR_FILENAME_EXCED_RANGE) : lastError();
        return nullptr;
    }
    systemPath = full;
    // No error box for a library that is not one: the caller logs the failure.
    DWORD previous = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
    // Without the system's software restriction rules, which the signature check replaces.
    HMODULE module = LoadLibraryExA(systemPath.c_str(), nullptr, LOAD_IGNORE_CODE_AUTHZ_LEVEL);
    if (!module)
        error = lastError();
    SetThreadErrorMode(previous, nullptr);
    return reinterpret_cast<void*>(module);
}

void* findSymbol(void* module, const char* name, std::string& error) {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(module), name);
    if (!address)
        error = lastError();
    return reinterpret_cast<void*>(address);
}

void closeModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace detail
}  // namespace vexlan
