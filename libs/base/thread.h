// Named threads and the registry that gives log lines their thread names.
#pragma once

#include "base/string.h"

namespace tessel {

// The name of the registered thread running this call, or its numeric identifier.
String currentThreadName();

}  // namespace tessel
