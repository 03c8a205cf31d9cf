// How the libcurl functions are found (implemented by unix/ and windows/curllibrary_platform.cpp).
#pragma once

#include "base/string.h"
#include "http/curllibrary.h"

namespace tessel {
namespace http {
namespace detail {

// The library's file name (Debian's libcurl4, the OpenSSL flavour, a dependency of our package).
constexpr const char* kCurlLibraryName = "libcurl.so.4";

// Fills every entry of `functions` from the library `name` (the Windows build links libcurl in
// and ignores it). False, with `error` saying why, when the library or one of its functions
// cannot be found.
bool loadCurlFunctions(const char* name, CurlFunctions& functions, String& error);

}  // namespace detail
}  // namespace http
}  // namespace tessel
