// The evaluator's side of its socket and the process settings it needs (unix/channel.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlan {
namespace paceval {

// Writing to a client that went away fails instead of raising SIGPIPE; no core files.
void prepareProcess();
// Exactly `count` bytes from the client; false at its end.
bool readFromClient(void* data, size_t count);
bool writeToClient(const void* data, size_t count);
// Lets the process use about `milliseconds` more CPU time, then the system ends it: should the
// client be gone and unable to kill it, a stuck evaluation still stops.
void limitCpuTime(uint32_t milliseconds);

}  // namespace paceval
}  // namespace vexlan
