#include "http/curllibrary.h"

#include "base/console.h"
#include "base/fixedpositions.h"
#include "http/curllibrary_platform.h"
#include "http/curlwrapper.h"

namespace tessel {
namespace http {
namespace detail {
namespace {

struct LoadedCurl {
    CurlFunctions functions{};
    bool loaded = false;
    String error;
};

LoadedCurl load() {
    LoadedCurl result;
    result.loaded = loadCurlFunctions(kCurlLibraryName, result.functions, result.error);
    // Once, before any handle exists: curl_global_init is not safe beside other threads.
    if (result.loaded)
        result.functions.globalInit(CURL_GLOBAL_DEFAULT);
    return result;
}

}  // namespace

const CurlFunctions& curlLibrary() {
    // A function-local static is initialised exactly once, whichever thread comes first. It is
    // never destroyed, so that a transfer still running while the process ends keeps its table.
    static const LoadedCurl* const curl = new LoadedCurl(load());
    if (!curl->loaded) {
        log(2, "CurlLibrary", "curlLibrary", "Cannot load libcurl: " + curl->error);
        TESSEL_THROW_AT(ECurl, fixed::kCurlWrapper);
    }
    return curl->functions;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
