// What the window system needs before wxWidgets starts, in a program that has its own main()
// instead of the system's window-program entry.
#pragma once

namespace vexlan::detail {

// Windows: hands the program's module to wxWidgets, which creates its windows and dialogs in
// it (the system's entry would have passed it). Elsewhere: nothing to do.
void prepareWindowSystem();

}  // namespace vexlan::detail
