// The file-system services behind component placement that the base library lacks
// (implemented by unix/componentplacement_platform.cpp).
#pragma once

#include <string>

namespace vexlan {
namespace detail {

// Removes `path` and, when it is a folder, everything below it (symbolic links are removed,
// never followed). True when nothing is left at `path`.
bool removeTree(const char* path);

}  // namespace detail
}  // namespace vexlan
