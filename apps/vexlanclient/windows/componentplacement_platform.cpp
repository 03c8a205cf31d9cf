// Component placement on Windows: the "win32" record is loaded and the "win64" one placed in
// x64, libraries are ".dll" files, and folder trees are removed without following junctions.
#include <windows.h>

#include <string>

#include "vexlanclient/componentplacement_platform.h"

namespace vexlan {
namespace detail {
namespace {

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Depth-first; the depth is bounded so that a hostile tree cannot exhaust the stack.
bool removeBelow(const std::string& path, int depth) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return isMissing(GetLastError());
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileA(path.c_str()) != 0;
    // A junction or folder link is removed itself, never what it points to.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveDirectoryA(path.c_str()) != 0;
    if (depth > 64)
        return false;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name != "." && name != "..")
                removeBelow(path + "\\" + name, depth + 1);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}

}  // namespace

const ComponentPlatform& componentPlatform() {
    static const ComponentPlatform platform{"win32", "Load 32 bits windows dll", ".dll", true};
    return platform;
}

bool removeTree(const char* path) {
    std::string systemPath = path;
    for (char& c : systemPath) {
        if (c == '/')
            c = '\\';
    }
    while (systemPath.size() > 3 && systemPath.back() == '\\')
        systemPath.pop_back();
    return removeBelow(systemPath, 0);
}

}  // namespace detail
}  // namespace vexlan
