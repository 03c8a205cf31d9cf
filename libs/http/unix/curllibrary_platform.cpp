// libcurl opened with dlopen on first use, so that a program that never transfers (or has not
// yet) does not map it and the many libraries it pulls in.
#include <dlfcn.h>

#include "http/curllibrary_platform.h"

namespace tessel {
namespace http {
namespace detail {
namespace {

String lastError() {
    // dlerror's text lasts only until the next call: copied.
    const char* text = dlerror();
    return text ? String(text).copy() : String("unknown error");
}

template <typename Function>
bool find(void* library, const char* name, Function& function, String& error) {
    dlerror();
    void* address = dlsym(library, name);
    if (!address) {
        error = String(name) + ": " + lastError();
        return false;
    }
    function = reinterpret_cast<Function>(address);
    return true;
}

}  // namespace

bool loadCurlFunctions(const char* name, CurlFunctions& functions, String& error) {
    dlerror();
    // Never closed once loaded: handles and libcurl's global state live until the process ends.
    // Lazy binding, as for a linked library: resolving all of libcurl's and its libraries'
    // references at once would touch pages that a transfer never needs.
    void* library = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        error = lastError();
        return false;
    }
    bool found = find(library, "curl_global_init", functions.globalInit, error) &&
                 find(library, "curl_easy_init", functions.easyInit, error) &&
                 find(library, "curl_easy_setopt", functions.easySetopt, error) &&
                 find(library, "curl_easy_perform", functions.easyPerform, error) &&
                 find(library, "curl_easy_cleanup", functions.easyCleanup, error) &&
                 find(library, "curl_easy_strerror", functions.easyStrerror, error) &&
                 find(library, "curl_share_init", functions.shareInit, error) &&
                 find(library, "curl_share_setopt", functions.shareSetopt, error) &&
                 find(library, "curl_share_cleanup", functions.shareCleanup, error);
    if (!found)
        dlclose(library);
    return found;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
