// The file-system services behind component placement that the base library lacks
// (implemented in unix/).
#pragma once

#include <string>

namespace componentplatform {

// Removes `path` and, when it is a folder, everything below it (symbolic links are removed,
// never followed). True when nothing is left at `path`.
bool removeTree(const char* path);

}  // namespace componentplatform
