// The Windows certificate store as trust anchors, so that an organisation's own roots are
// trusted as the user's other programs trust them (libcurl's bundle is not installed here).
#include "http/curlwrapper_platform.h"

#include <curl/curl.h>

namespace tessel {
namespace http {
namespace detail {

long trustAnchorSslOptions() {
    return CURLSSLOPT_NATIVE_CA;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
