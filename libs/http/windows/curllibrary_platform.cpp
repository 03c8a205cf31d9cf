// libcurl is linked statically into the Windows programs: the table points at its functions.
#include "http/curllibrary_platform.h"

namespace tessel {
namespace http {
namespace detail {

bool loadCurlFunctions(const char*, CurlFunctions& functions, String&) {
    // Plain names, not calls: curl.h's type-checking macros apply only to calls.
    functions.globalInit = curl_global_init;
    functions.easyInit = curl_easy_init;
    functions.easySetopt = curl_easy_setopt;
    functions.easyPerform = curl_easy_perform;
    functions.easyCleanup = curl_easy_cleanup;
    functions.easyStrerror = curl_easy_strerror;
    functions.shareInit = curl_share_init;
    functions.shareSetopt = curl_share_setopt;
    functions.shareCleanup = curl_share_cleanup;
    return true;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
