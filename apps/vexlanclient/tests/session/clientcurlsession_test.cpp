// The client's per-request answers from the local settings.
#include "vexlanclient/clientcurlsession.h"

#include <gtest/gtest.h>

namespace vexlan {
namespace {

TEST(VexlanClientCurlSessionTest, CertificateExceptionsMatchTheAuthorityByteForByte) {
    SharedLocalConfiguration settings;
    ClientLocalConfiguration values;
    values.certificateExceptions().push_back("gw.example:8443");
    values.certificateExceptions().push_back("plain.example");
    settings.set(values);
    VexlanClientCurlSession session(&settings);
    const struct {
        const char* url;
        bool verify;
    } cases[] = {
        {"https://gw.example:8443/mediation?x=1", false},
        {"https://gw.example:8443", false},
        {"https://gw.example:8444/", true},
        {"https://gw.example/", true},
        {"https://GW.example:8443/", true},
        {"https://plain.example/a", false},
        {"https://plain.example:443/a", true},
        {"https://other.example/", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.verify, session.verifyCertificate(c.url)) << c.url;
    }
}

TEST(VexlanClientCurlSessionTest, ProxyCarriesTheStoredCredentials) {
    SharedLocalConfiguration settings;
    ClientLocalConfiguration values;
    values.setProxyCredentials(tessel::Credentials("user", "secret", "corp"));
    settings.set(values);
    VexlanClientCurlSession session(&settings);
    tessel::Proxy proxy = session.proxyFor("https://127.0.0.1:8443/");
    EXPECT_EQ(tessel::Proxy::kNone, proxy.type());  // loopback is never proxied
    EXPECT_EQ("user", proxy.credentials().login().toStd());
    EXPECT_EQ("secret", proxy.credentials().password().toStd());
    EXPECT_EQ("corp", proxy.credentials().domain().toStd());
}

}  // namespace
}  // namespace vexlan
