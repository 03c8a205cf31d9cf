// libcurl's CA bundle is the system's trust store (Debian's ca-certificates).
#include "http/curlwrapper_platform.h"

namespace tessel {
namespace http {
namespace detail {

long trustAnchorSslOptions() {
    return 0;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
