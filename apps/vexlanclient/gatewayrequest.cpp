#include "vexlanclient/gatewayrequest.h"

#include "base/console.h"
#include "base/exception.h"
#include "http/uri.h"

using tessel::String;

namespace vexlan {

GatewayRequest gatewayRequest(const String& startParameter, const char* version) {
    // Taken as written: the path and the parameters reach the gateway unchanged.
    tessel::http::Uri uri(startParameter, false);
    GatewayRequest request;
    request.identifier = uri.getUserInformation();
    request.host = uri.getHostAndPort();
    // The scheme of the start parameter only says which program opens it.
    uri.setScheme("https");
    uri.setAuthority(request.host);
    uri.setParameter("clientversion", version);
    request.url = uri.toString();
    request.cookieDomain = tessel::http::hostOf(request.host);
    return request;
}

tessel::http::Cookie GatewayRequest::identifierCookie() const {
    tessel::http::Cookie cookie;
    cookie.name = "Vexlan-Id";
    cookie.value = identifier;
    cookie.path = "/";
    cookie.domain = cookieDomain;
    // The identifier never leaves in clear, whatever address a transfer is given.
    cookie.secure = true;
    return cookie;
}

void checkGatewayUrl(const char* key, const String& url) {
    tessel::http::Uri uri;
    try {
        uri = tessel::http::Uri(url, false);
    } catch (const tessel::http::UriComponentException&) {
        // A reply address that is no URI at all is refused like one of another scheme: the
        // configuration is unusable, not the program.
        tessel::log(2, "ClientConfiguration", "readConf",
                    String("Refusing ") + key + " that is no URI: " + url);
        TESSEL_THROW(tessel::EClientConfiguration);
    }
    if (tessel::http::isHttpsOrRelative(uri))
        return;
    tessel::log(2, "ClientConfiguration", "readConf",
                String("Refusing ") + key + " with the scheme \"" + uri.getScheme() + "\": " + url +
                    " (only https is allowed)");
    TESSEL_THROW(tessel::EClientConfiguration);
}

}  // namespace vexlan
