// The gateway request of one run, made from the start parameter: the start parameter names
// the gateway whatever its scheme ("vexlan://" for the links that the desktop hands to the
// program, "https://", or any other), and the request always goes out over HTTPS.
#pragma once

#include "base/string.h"
#include "http/response.h"

namespace vexlan {

struct GatewayRequest {
    // "https:", "//" and the host part, then the start parameter's path and query as written,
    // with the parameter "clientversion" set to the client's version (in its place when the
    // start parameter has it, else after the others).
    tessel::String url;
    // The start parameter's user information (before the first "@"; empty without one): the
    // value of the "Vexlan-Id" cookie.
    tessel::String identifier;
    // Host and optional port (the authority after the first "@").
    tessel::String host;
    // The host part without its port (for an IPv6 literal, the address inside its
    // brackets): the cookie's domain.
    tessel::String cookieDomain;

    // The "Vexlan-Id" cookie: the identifier for the gateway's host, path "/", sent over
    // https only.
    tessel::http::Cookie identifierCookie() const;
};

// Raises http::UriComponentException (logged) for a start parameter that is no URI.
GatewayRequest gatewayRequest(const tessel::String& startParameter, const char* version);

// Refuses a URL of the gateway's reply, the value of `key` (for example "urlpath"), that
// names a scheme other than https: logs log(2, "ClientConfiguration", "readConf", ...) with
// the key and the scheme and raises EClientConfiguration, before anything is fetched. A
// relative URL (no scheme) passes: it is fetched with https from the gateway.
void checkGatewayUrl(const char* key, const tessel::String& url);

}  // namespace vexlan
