// What transfers need from the system (implemented by unix/ and windows/curlwrapper_platform.cpp).
#pragma once

namespace tessel {
namespace http {
namespace detail {

// CURLOPT_SSL_OPTIONS bits that choose the trust anchors: none where libcurl's own CA store is
// the system's, the system certificate store where it is kept apart (Windows).
long trustAnchorSslOptions();

}  // namespace detail
}  // namespace http
}  // namespace tessel
