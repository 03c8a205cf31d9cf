#include "vexlanclient/clientconfiguration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "sandbox.h"
#include "vexlanclient/mediationresponse.h"

using tessel::String;
using vexlan::testing::LogCapture;

namespace {

String fixture(const std::string& name) {
    return String::copy(vexlan::testing::readFile(std::string(VEXLAN_TEST_DATA) + "/" + name));
}

// Decodes a gateway reply the way the client thread does: envelope, then its result.
tessel::gc::Pointer<ClientConfiguration> loadFixture(const std::string& name) {
    MediationResponse response(fixture(name));
    return ClientConfiguration::load(*response.result());
}

// Counts the calls it receives, by element type.
class RecordingDispatcher : public ClientConfigurationDispatcher {
public:
    void dispatch(NoTunnelClientPluginDllConfiguration& element) override {
        m_calls.push_back("notunnel");
        m_element = &element;
    }
    void dispatch(ClientPluginDllConfiguration& element) override {
        m_calls.push_back("plugin");
        m_element = &element;
    }
    void dispatch(ClientHostcheckerDllConfiguration& element) override {
        m_calls.push_back("hostchecker");
        m_element = &element;
    }
    std::vector<std::string> m_calls;
    ClientConfigurationDispatcherElt* m_element = nullptr;
};

void expectDll(const Dll& dll, const char* filename, const char* md5, const char* pattern) {
    EXPECT_TRUE(dll.m_present);
    EXPECT_EQ(dll.m_filename, filename);
    EXPECT_EQ(dll.m_md5, md5);
    EXPECT_EQ(dll.m_urlpath, "/components/");
    EXPECT_EQ(dll.m_pattern, pattern);
    EXPECT_EQ(dll.m_version, "2.4.1");
}

}  // namespace

TEST(ClientConfiguration, HostcheckerElement) {
    LogCapture log;
    auto configuration = loadFixture("reply_hostchecker.json");
    EXPECT_EQ(configuration->type(), "hostchecker");
    EXPECT_STREQ(configuration->className(), "ClientConfiguration");
    auto* element = dynamic_cast<ClientHostcheckerDllConfiguration*>(configuration->element());
    ASSERT_NE(element, nullptr);
    expectDll(element->m_hostcheckerDlls.m_linux64, "hostchecker-2.4.1.zip",
              "e4d909c290d0fb1ca068ffaddf22cbd0", "hostchecker.so");
    expectDll(element->m_hostcheckerDlls.m_win32, "hostchecker-2.4.1-win32.zip",
              "5d41402abc4b2a76b9719d911017c592", "hostchecker.dll");
    EXPECT_EQ(&element->m_hostcheckerDlls.native(), &element->m_hostcheckerDlls.m_linux64);
    EXPECT_TRUE(element->m_hostcheckerDlls.m_win64.m_present);
    EXPECT_TRUE(element->m_hostcheckerDlls.m_mac.m_present);
    EXPECT_EQ(element->m_hostcheckingrequest, "firewall;antivirus;diskencryption;screenlock");
    EXPECT_EQ(element->m_responseurl, "https://gateway.example.test/mediation/hostchecking");
    EXPECT_EQ(element->m_hostname, "gateway.example.test");
    EXPECT_EQ(element->m_language, "en");
    EXPECT_EQ(element->m_hostcheckingtimer, 60u);
    EXPECT_TRUE(log.entries().empty());
}

TEST(ClientConfiguration, PluginElement) {
    LogCapture log;
    auto configuration = loadFixture("reply_plugindll.json");
    EXPECT_EQ(configuration->type(), "plugindll");
    auto* element = dynamic_cast<ClientPluginDllConfiguration*>(configuration->element());
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->m_orgname, "Example Org");
    EXPECT_EQ(element->m_server, "vpn.example.test:443");
    EXPECT_EQ(element->m_certPassword, "p12-Secret-4711");
    EXPECT_EQ(element->m_login, "jdoe");
    EXPECT_EQ(element->m_ticket, "TK-7f3a9c2e51d04b8a");
    EXPECT_EQ(element->m_sessionid, "SID-000042-1a2b");
    expectDll(element->m_pluginDlls.native(), "vpn-2.4.1.zip", "8277e0910d750195b448797616e091ad",
              "vpn");
    expectDll(element->m_pluginDlls.m_win64, "vpn-2.4.1-win64.zip",
              "92eb5ffee6ae2fec3ad71c777531578f", "vpn");
    EXPECT_EQ(element->m_certificates.m_cert.m_filename, "jdoe.p12");
    EXPECT_EQ(element->m_certificates.m_cert.m_md5, "e1671797c52e15f763380b45e841ec32");
    EXPECT_EQ(element->m_certificates.m_cert.m_urlpath, "/pki/");
    EXPECT_EQ(element->m_certificates.m_ca.m_filename, "ca.pem");
    EXPECT_EQ(element->m_certificates.m_ca.m_urlpath, "/pki/");
    EXPECT_EQ(element->m_clientid, "CL-9c41e2");
    EXPECT_EQ(element->m_sslservercertname,
              (std::list<String>{"vpn.example.test", "vpn-backup.example.test"}));
    EXPECT_TRUE(log.entries().empty());
}

TEST(ClientConfiguration, NoTunnelPluginElement) {
    LogCapture log;
    auto configuration = loadFixture("reply_plugindllnotunnel.json");
    EXPECT_EQ(configuration->type(), "plugindllnotunnel");
    auto* element = dynamic_cast<NoTunnelClientPluginDllConfiguration*>(configuration->element());
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->m_orgname, "Example Org");
    expectDll(element->m_pluginDlls.native(), "launcher-2.4.1.zip",
              "1dcca23355272056f04fe8bf20edfce0", "launcher");
    EXPECT_EQ(element->m_service, "rdp://desktop.example.test:3389");
    EXPECT_EQ(element->m_clientid, "CL-9c41e2");
    EXPECT_EQ(element->m_safetype, 1);
    EXPECT_TRUE(log.entries().empty());
}

TEST(ClientConfiguration, EachElementDispatchesToItsOwnOperation) {
    struct Case {
        const char* fixture;
        const char* call;
    } cases[] = {
        {"reply_hostchecker.json", "hostchecker"},
        {"reply_plugindll.json", "plugin"},
        {"reply_plugindllnotunnel.json", "notunnel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        auto configuration = loadFixture(c.fixture);
        RecordingDispatcher dispatcher;
        configuration->dispatch(dispatcher);
        EXPECT_EQ(dispatcher.m_calls, std::vector<std::string>{c.call});
        EXPECT_EQ(dispatcher.m_element, configuration->element());
    }
}

TEST(ClientConfiguration, OptionalKeysMayBeAbsent) {
    {
        SCOPED_TRACE("without sslservercertname");
        LogCapture log;
        auto configuration = loadFixture("reply_plugindll_without_sslservercertname.json");
        auto* element = dynamic_cast<ClientPluginDllConfiguration*>(configuration->element());
        ASSERT_NE(element, nullptr);
        EXPECT_TRUE(element->m_sslservercertname.empty());
        EXPECT_TRUE(log.entries().empty());
    }
    {
        SCOPED_TRACE("component without md5");
        auto configuration = loadFixture("reply_plugindll_linux64_without_md5.json");
        auto* element = dynamic_cast<ClientPluginDllConfiguration*>(configuration->element());
        ASSERT_NE(element, nullptr);
        EXPECT_TRUE(element->m_pluginDlls.m_linux64.m_present);
        EXPECT_TRUE(element->m_pluginDlls.m_linux64.m_md5.isEmpty());
        EXPECT_EQ(element->m_pluginDlls.m_linux64.m_pattern, "vpn");
    }
    {
        SCOPED_TRACE("only a win32 component");
        auto configuration = loadFixture("reply_hostchecker_win32_only.json");
        auto* element = dynamic_cast<ClientHostcheckerDllConfiguration*>(configuration->element());
        ASSERT_NE(element, nullptr);
        const Dlls& dlls = element->m_hostcheckerDlls;
        EXPECT_TRUE(dlls.m_win32.m_present);
        EXPECT_EQ(dlls.m_win32.m_pattern, "hostchecker.dll");
        for (const Dll* absent : {&dlls.m_win64, &dlls.m_mac, &dlls.m_linux64}) {
            EXPECT_FALSE(absent->m_present);
            EXPECT_TRUE(absent->m_filename.isEmpty());
            EXPECT_TRUE(absent->m_pattern.isEmpty());
        }
    }
}

TEST(ClientConfiguration, EveryMandatoryKeyIsRequired) {
    struct Case {
        const char* fixture;
        const char* key;  // the missing key named by the log
    } cases[] = {
        {"reply_hostchecker_without_hostcheckerDlls.json", "hostcheckerDlls"},
        {"reply_hostchecker_without_hostcheckingrequest.json", "hostcheckingrequest"},
        {"reply_hostchecker_without_responseurl.json", "responseurl"},
        {"reply_hostchecker_without_hostname.json", "hostname"},
        {"reply_hostchecker_without_language.json", "language"},
        {"reply_hostchecker_without_hostcheckingtimer.json", "hostcheckingtimer"},
        {"reply_plugindll_without_orgname.json", "orgname"},
        {"reply_plugindll_without_server.json", "server"},
        {"reply_plugindll_without_certPassword.json", "certPassword"},
        {"reply_plugindll_without_login.json", "login"},
        {"reply_plugindll_without_ticket.json", "ticket"},
        {"reply_plugindll_without_sessionid.json", "sessionid"},
        {"reply_plugindll_without_pluginDlls.json", "pluginDlls"},
        {"reply_plugindll_without_certificates.json", "certificates"},
        {"reply_plugindll_without_clientid.json", "clientid"},
        {"reply_plugindllnotunnel_without_orgname.json", "orgname"},
        {"reply_plugindllnotunnel_without_pluginDlls.json", "pluginDlls"},
        {"reply_plugindllnotunnel_without_service.json", "service"},
        {"reply_plugindllnotunnel_without_clientid.json", "clientid"},
        {"reply_plugindllnotunnel_without_safetype.json", "safetype"},
        {"reply_type_missing.json", "type"},
        // Nested records: a record that is present must be complete.
        {"reply_plugindll_linux64_without_filename.json", "filename"},
        {"reply_plugindll_linux64_without_urlpath.json", "urlpath"},
        {"reply_plugindll_linux64_without_pattern.json", "pattern"},
        {"reply_plugindll_linux64_without_version.json", "version"},
        {"reply_plugindll_certificates_without_cert.json", "cert"},
        {"reply_plugindll_certificates_without_ca.json", "ca"},
        {"reply_plugindll_ca_without_filename.json", "filename"},
        {"reply_plugindll_ca_without_urlpath.json", "urlpath"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        MediationResponse response(fixture(c.fixture));
        LogCapture log;
        EXPECT_THROW(ClientConfiguration::load(*response.result()), tessel::EConfMissingKey);
        std::vector<std::string> entries = log.entries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries[0],
                  std::string("ERROR ConfReadHelper.readKey Missing tag: <") + c.key + ">");
    }
}

TEST(ClientConfiguration, NestedFailureNamesTheOuterKeyToo) {
    MediationResponse response(fixture("reply_plugindll_linux64_without_pattern.json"));
    LogCapture log;
    EXPECT_THROW(ClientConfiguration::load(*response.result()), tessel::EConfMissingKey);
    EXPECT_TRUE(log.contains("ERROR ConfReadHelper.readKey Missing tag: <pattern>"));
    EXPECT_TRUE(
        log.contains("ERROR ConfReadHelper.readKey Error while reading key: \"pluginDlls\""));
}

// A URL of the reply with a scheme other than https fails the whole element, wherever it sits.
TEST(ClientConfiguration, UrlsOfAnotherSchemeAreRefused) {
    struct Case {
        const char* fixture;
        const char* from;  // a text of the fixture, whose value becomes `url`
        const char* key;
        const char* url;
        const char* scheme;
    } cases[] = {
        {"reply_hostchecker.json", "\"https://gateway.example.test/mediation/hostchecking\"",
         "responseurl", "http://gateway.example.test/mediation/hostchecking", "http"},
        {"reply_hostchecker.json", "\"/components/\"", "urlpath", "gopher://127.0.0.1:6379/_x",
         "gopher"},
        {"reply_plugindll.json", "\"/pki/\"", "urlpath", "file:///etc/", "file"},
        {"reply_plugindllnotunnel.json", "\"/components/\"", "urlpath",
         "dict://127.0.0.1:11211/", "dict"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string text = vexlan::testing::readFile(std::string(VEXLAN_TEST_DATA) + "/" + c.fixture);
        size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, std::strlen(c.from), std::string("\"") + c.url + "\"");
        MediationResponse response(String::copy(text));
        LogCapture log;
        EXPECT_THROW(ClientConfiguration::load(*response.result()), tessel::Exception);
        EXPECT_TRUE(log.contains(std::string("ERROR ClientConfiguration.readConf Refusing ") +
                                 c.key + " with the scheme \"" + c.scheme + "\": " + c.url +
                                 " (only https is allowed)"))
            << (log.entries().empty() ? "" : log.entries()[0]);
    }
}

TEST(ClientConfiguration, UnknownTypeIsRejectedByteForByte) {
    struct Case {
        const char* fixture;
        const char* type;
    } cases[] = {
        {"reply_type_wrong_case.json", "HostChecker"},
        {"reply_type_unknown.json", "vpn"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        MediationResponse response(fixture(c.fixture));
        LogCapture log;
        try {
            ClientConfiguration::load(*response.result());
            ADD_FAILURE() << "loaded";
        } catch (const tessel::EClientConfiguration& e) {
            EXPECT_EQ(e.message(), "EClientConfiguration");
            EXPECT_EQ(e.file(), "clientconfiguration");
            EXPECT_EQ(e.line(), 88u);
        }
        std::vector<std::string> expected{
            std::string("ERROR ClientConfiguration.load Unknown configuration type: ") + c.type};
        EXPECT_EQ(log.entries(), expected);
    }
}

TEST(ClientConfiguration, TypeWithATrailingZeroByteIsUnknown) {
    MediationResponse response{
        String("{\"success\": true, \"result\": {\"type\": \"plugindll\\u0000\"}}")};
    EXPECT_THROW(ClientConfiguration::load(*response.result()), tessel::EClientConfiguration);
}

TEST(ClientConfiguration, UnreadableOptionalListLeavesItEmpty) {
    String text = fixture("reply_plugindll.json")
                      .replace(String("\"vpn-backup.example.test\""), String("{\"bad\": 1}"));
    MediationResponse response(text);
    LogCapture log;
    auto configuration = ClientConfiguration::load(*response.result());
    auto* element = dynamic_cast<ClientPluginDllConfiguration*>(configuration->element());
    ASSERT_NE(element, nullptr);
    EXPECT_TRUE(element->m_sslservercertname.empty());
    EXPECT_TRUE(log.contains(
        "ERROR ConfReadHelper.readKey Error while reading key: \"sslservercertname\""));
}
