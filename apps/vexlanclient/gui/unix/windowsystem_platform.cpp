#include "vexlanclient/gui/windowsystem_platform.h"

namespace vexlan::detail {

void prepareWindowSystem() {}

}  // namespace vexlan::detail
