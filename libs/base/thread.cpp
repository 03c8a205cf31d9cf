#include "base/thread.h"

#include "base/platform.h"

namespace tessel {

String currentThreadName() { return String(platform::currentThreadId()); }

}  // namespace tessel
