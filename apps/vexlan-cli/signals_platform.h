// How the system delivers the signals vexlan-cli watches (implemented by unix/ and
// windows/signals_platform.cpp).
#pragma once

#include "vexlan-cli/signals.h"

namespace vexlancli {
namespace detail {

// Called once, from the watcher's constructor, before any other thread exists: from then on
// the watched signals reach only waitForSignal.
void watchSignals();
// Blocks the calling thread (the watcher thread) until the next watched signal and returns
// it. Signals that came before the first call are not lost.
Signal waitForSignal();

}  // namespace detail
}  // namespace vexlancli
