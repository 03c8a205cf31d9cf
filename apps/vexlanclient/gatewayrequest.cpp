#include "vexlanclient/gatewayrequest.h"

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
    uint32_t colon = request.host.find(':');
    request.cookieDomain = colon == String::npos ? request.host : request.host.substring(0, colon);
    return request;
}

}  // namespace vexlan
