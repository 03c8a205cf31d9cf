// Windows answers the language check cheaply itself: never skipped.
#include "vexlanclient/gui/language_platform.h"

namespace vexlan::detail {

bool systemHasOnlyCLocales() {
    return false;
}

}  // namespace vexlan::detail
