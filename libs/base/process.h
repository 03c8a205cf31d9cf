// What other local users can learn of the program's own process: the start parameter in the
// process list, and secrets in core files. Both programs call these first thing.
#pragma once

#include "base/string.h"

namespace tessel {

// Overwrites, in main's own argument vector, every argument after the program's name that
// equals `value`, so that other users no longer see it in the process list. Call it once the
// value has been copied: the vector's text is gone afterwards. It stays visible from the
// process's start until this call.
void hideArgument(int argc, char** argv, const String& value);

// Makes the process non-dumpable (no core file, no inspection of its memory by other
// processes of the user), unless the environment sets VEXLAN_ALLOW_CORE_DUMPS=1 for
// debugging. Returns true when the protection is on.
bool refuseCoreDumps();

}  // namespace tessel
