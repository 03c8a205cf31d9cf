// The C library finds locales in its archive or in folders under /usr/lib/locale (or under
// LOCPATH when that is set). When neither holds anything but C.UTF-8, checking a language
// means several hundred failing look-ups (every region of the language, in several spellings
// of UTF-8), all bound to fail.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vexlanclient/gui/language_platform.h"

namespace vexlan::detail {
namespace {

constexpr const char* kLocaleFolder = "/usr/lib/locale";
constexpr const char* kLocaleArchive = "/usr/lib/locale/locale-archive";

// The C library's own UTF-8 variant of C, which every system may have.
bool isCLocale(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
           std::strcmp(name, "C.utf8") == 0 || std::strcmp(name, "C.UTF-8") == 0;
}

}  // namespace

bool systemHasOnlyCLocales() {
    const char* path = std::getenv("LOCPATH");
    if (path && *path)
        return false;
    struct stat status;
    if (stat(kLocaleArchive, &status) == 0 || errno != ENOENT)
        return false;
    DIR* folder = opendir(kLocaleFolder);
    if (!folder)
        return errno == ENOENT;
    bool onlyC = true;
    while (const dirent* entry = readdir(folder)) {
        if (!isCLocale(entry->d_name)) {
            onlyC = false;
            break;
        }
    }
    closedir(folder);
    return onlyC;
}

}  // namespace vexlan::detail
