// What component placement needs from the system: which record of the gateway this platform
// loads, how its libraries are named, and removing a folder tree (implemented by
// unix/componentplacement_platform.cpp and windows/componentplacement_platform.cpp).
#pragma once

#include <string>

namespace vexlan {
namespace detail {

// How components look on this platform.
struct ComponentPlatform {
    const char* nativeRecord;   // the record that is loaded: "linux64" or "win32"
    const char* loadText;       // the TRACE line before a library is verified and loaded
    const char* librarySuffix;  // of a placed plugin library: ".so" or ".dll"
    bool placesWin64;           // the "win64" record is placed in x64 too (never loaded)
};

const ComponentPlatform& componentPlatform();

// Removes `path` and, when it is a folder, everything below it (symbolic links are removed,
// never followed). True when nothing is left at `path`.
bool removeTree(const char* path);

}  // namespace detail
}  // namespace vexlan
