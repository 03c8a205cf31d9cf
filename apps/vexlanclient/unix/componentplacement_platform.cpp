// Component placement on POSIX systems: the "linux64" record, ".so" names, removing a
// folder tree.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "vexlanclient/componentplacement_platform.h"

namespace vexlan {
namespace detail {
namespace {

// Depth-first; the depth is bounded so that a hostile tree cannot exhaust the stack.
bool removeBelow(const std::string& path, int depth) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return unlink(path.c_str()) == 0;
    if (depth > 64)
        return false;
    if (DIR* dir = opendir(path.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            removeBelow(path + "/" + name, depth + 1);
        }
        closedir(dir);
    }
    return rmdir(path.c_str()) == 0;
}

}  // namespace

const ComponentPlatform& componentPlatform() {
    static const ComponentPlatform platform{"linux64", "Load 64 bits linux library", ".so", false};
    return platform;
}

bool removeTree(const char* path) {
    return removeBelow(path, 0);
}

}  // namespace detail
}  // namespace vexlan
