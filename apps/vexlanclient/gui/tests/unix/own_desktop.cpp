// Each window test run has an X server of its own (run-under-xvfb.sh): nothing to change.
#include "../own_desktop.h"

namespace vexlan::guitest {

std::optional<int> runOnOwnDesktop() {
    return std::nullopt;
}

}  // namespace vexlan::guitest
