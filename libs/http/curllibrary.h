// The libcurl entry points that transfers use, reached through one table so that the library
// is loaded when the first transfer session needs it, not when the program starts (Linux), or
// linked in (Windows). Private to libs/http: only its .cpp files include it.
#pragma once

#include <curl/curl.h>

namespace tessel {
namespace http {
namespace detail {

struct CurlFunctions {
    CURLcode (*globalInit)(long flags);
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...);
    CURLcode (*easyPerform)(CURL* handle);
    void (*easyCleanup)(CURL* handle);
    const char* (*easyStrerror)(CURLcode code);
    CURLSH* (*shareInit)();
    CURLSHcode (*shareSetopt)(CURLSH* share, CURLSHoption option, ...);
    CURLSHcode (*shareCleanup)(CURLSH* share);
};

// The table, filled and libcurl initialised (curl_global_init) on the first call; later calls
// return it at once. Safe from any thread. Raises ECurl (after a log line at level ERROR that
// says why) when libcurl cannot be loaded; every later call does the same.
const CurlFunctions& curlLibrary();

}  // namespace detail
}  // namespace http
}  // namespace tessel
