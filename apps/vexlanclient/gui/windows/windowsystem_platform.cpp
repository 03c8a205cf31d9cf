#include "vexlanclient/gui/windowsystem_platform.h"

// wxWidgets' own header brings <windows.h> with the wide-character settings it was built with.
#include <wx/msw/private.h>

namespace vexlan::detail {

void prepareWindowSystem() {
    wxSetInstance(::GetModuleHandleW(nullptr));
}

}  // namespace vexlan::detail
