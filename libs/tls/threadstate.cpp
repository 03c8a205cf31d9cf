#include "tls/threadstate.h"

#include <openssl/crypto.h>

namespace tessel {
namespace tls {

void releaseThreadState() {
    OPENSSL_thread_stop();
}

}  // namespace tls
}  // namespace tessel
