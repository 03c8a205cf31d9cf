// OpenSSL keeps state per thread (its error queue, its random generators) and frees it only
// when the system thread has ended. releaseThreadState frees the calling thread's state at
// once: a thread calls it as its last step, so that nothing of it is left when those who
// wait for its end go on (the process may end right then). Later OpenSSL calls on the same
// thread simply build the state again.
#pragma once

namespace tessel {
namespace tls {

void releaseThreadState();

}  // namespace tls
}  // namespace tessel
