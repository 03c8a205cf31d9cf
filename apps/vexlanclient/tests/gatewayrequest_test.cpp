// The gateway request made from a start parameter: every scheme, vexlan:// links first, is
// sent over https with the parameter's path and query and the client version.
#include "vexlanclient/gatewayrequest.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/exception.h"
#include "sandbox.h"

namespace vexlan {
namespace {

struct Case {
    const char* startParameter;
    const char* url;
    const char* identifier;
    const char* host;
    const char* cookieDomain;
};

TEST(GatewayRequestTest, AnySchemeBecomesHttpsWithPathAndQueryKept) {
    const Case cases[] = {
        {"vexlan://alice@gw.example:8443/mediation?lang=en",
         "https://gw.example:8443/mediation?lang=en&clientversion=8.4.0.24", "alice",
         "gw.example:8443", "gw.example"},
        // The scheme's case does not matter, nor does an identifier.
        {"VEXLAN://gw.example/mediation", "https://gw.example/mediation?clientversion=8.4.0.24", "",
         "gw.example", "gw.example"},
        // No path: the request goes to "/".
        {"vexlan://bob@127.0.0.1:9443", "https://127.0.0.1:9443/?clientversion=8.4.0.24", "bob",
         "127.0.0.1:9443", "127.0.0.1"},
        {"vexlan://bob@gw.example?lang=fr", "https://gw.example/?lang=fr&clientversion=8.4.0.24",
         "bob", "gw.example", "gw.example"},
        // A clientversion of the link keeps its place; encoded texts stay as written.
        {"vexlan://id@gw.example/a%20b?clientversion=1&x=%41&lang=de",
         "https://gw.example/a%20b?clientversion=8.4.0.24&x=%41&lang=de", "id", "gw.example",
         "gw.example"},
        // Only the first "@" separates the identifier.
        {"vexlan://a%40b@gw.example/", "https://gw.example/?clientversion=8.4.0.24", "a%40b",
         "gw.example", "gw.example"},
        {"https://id@gw.example/m", "https://gw.example/m?clientversion=8.4.0.24", "id",
         "gw.example", "gw.example"},
        {"http://gw.example:80/m", "https://gw.example:80/m?clientversion=8.4.0.24", "",
         "gw.example:80", "gw.example"},
        // An IPv6 literal: the cookie's domain is the address inside the brackets.
        {"vexlan://ID@[2001:db8::1]:8443/mediation",
         "https://[2001:db8::1]:8443/mediation?clientversion=8.4.0.24", "ID", "[2001:db8::1]:8443",
         "2001:db8::1"},
        {"vexlan://ID@[::1]/m", "https://[::1]/m?clientversion=8.4.0.24", "ID", "[::1]", "::1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startParameter);
        const GatewayRequest request = gatewayRequest(c.startParameter, "8.4.0.24");
        EXPECT_EQ(c.url, request.url.toStd());
        EXPECT_EQ(c.identifier, request.identifier.toStd());
        EXPECT_EQ(c.host, request.host.toStd());
        EXPECT_EQ(c.cookieDomain, request.cookieDomain.toStd());
    }
}

TEST(GatewayRequestTest, TheIdentifierCookieIsSecure) {
    const GatewayRequest request =
        gatewayRequest("vexlan://alice@[2001:db8::1]:8443/mediation", "8.4.0.24");
    EXPECT_EQ(request.identifierCookie().toString().toStd(),
              "Vexlan-Id=alice; domain=2001:db8::1; path=/; secure");
}

TEST(GatewayRequestTest, GatewayUrlsOfAnotherSchemeAreRefused) {
    for (const char* url : {"/components/", "https://gw.example/components/",
                            "HTTPS://gw.example/c/", "//gw.example/components/"}) {
        SCOPED_TRACE(url);
        EXPECT_NO_THROW(checkGatewayUrl("urlpath", url));
    }
    const std::pair<const char*, const char*> refused[] = {
        {"http://gw.example/components/", "http"},
        {"gopher://127.0.0.1:6379/_SET%20x%201%0D%0A", "gopher"},
        {"dict://127.0.0.1:11211/d:x", "dict"},
        {"file://localhost/etc/", "file"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.first);
        testing::LogCapture log;
        EXPECT_THROW(checkGatewayUrl("responseurl", c.first), tessel::EClientConfiguration);
        EXPECT_TRUE(log.contains(std::string("ERROR ClientConfiguration.readConf Refusing "
                                             "responseurl with the scheme \"") +
                                 c.second + "\": " + c.first + " (only https is allowed)"));
    }
}

TEST(GatewayRequestTest, GatewayUrlThatIsNoUriIsRefused) {
    testing::LogCapture log;
    EXPECT_THROW(checkGatewayUrl("responseurl", "https://gw.example/#a\rb"),
                 tessel::EClientConfiguration);
    EXPECT_TRUE(
        log.contains("ERROR ClientConfiguration.readConf Refusing responseurl that is no "
                     "URI: https://gw.example/#a\rb"));
}

TEST(GatewayRequestTest, ParameterThatIsNoUriIsRefused) {
    testing::LogCapture log;
    EXPECT_THROW(gatewayRequest("vexlan://gw.example/#a\rb", "8.4.0.24"),
                 tessel::http::UriComponentException);
    EXPECT_TRUE(log.contains("ERROR Uri: Invalid uri: vexlan://gw.example/#a\rb"));
}

}  // namespace
}  // namespace vexlan
