#include "base/process.h"

#include <cstdlib>
#include <cstring>

#include "base/process_platform.h"

namespace tessel {

void hideArgument(int argc, char** argv, const String& value) {
    if (!argv || value.isEmpty())
        return;
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (std::strlen(argv[i]) == value.length() &&
            std::memcmp(argv[i], value.data(), value.length()) == 0) {
            detail::eraseArgument(argv[i]);
        }
    }
}

bool refuseCoreDumps() {
    const char* allow = std::getenv("VEXLAN_ALLOW_CORE_DUMPS");
    if (allow && std::strcmp(allow, "1") == 0)
        return false;
    return detail::setProcessDumpable(false);
}

}  // namespace tessel
