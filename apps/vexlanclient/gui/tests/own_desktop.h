// The window tests under Wine run on a desktop of their own (see windows/own_desktop.cpp).
#pragma once

#include <optional>

namespace vexlan::guitest {

// Under Wine, when this process is not yet on a desktop of its own: runs this program again,
// with the same command line, on a new desktop, and gives back that run's exit status. Nothing
// (no value) when the process already is where its windows can be made: on Windows itself, on
// Linux, or in the run started here.
std::optional<int> runOnOwnDesktop();

}  // namespace vexlan::guitest
