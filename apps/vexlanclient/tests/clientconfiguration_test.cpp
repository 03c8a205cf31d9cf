#include "vexlanclient/clientconfiguration.h"

#include <gtest/gtest.h>
#include <json/json.h>

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

// A fixture with one member taken out, named by its path of keys ("result/pluginDlls/linux64").
String fixtureWithout(const std::string& name, const std::string& path) {
    Json::Value root;
    std::string errors;
    std::string text = vexlan::testing::readFile(std::string(VEXLAN_TEST_DATA) + "/" + name);
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        ADD_FAILURE() << name << ": " << errors;
        return String();
    }
    Json::Value* parent = &root;
    std::string::size_type start = 0;
    for (std::string::size_type slash; (slash = path.find('/', start)) != std::string::npos;
         start = slash + 1) {
        parent = &(*parent)[path.substr(start, slash - start)];
    }
    std::string key = path.substr(start);
    EXPECT_TRUE(parent->isMember(key)) << name << " has no " << path;
    parent->removeMember(key);
    return String::copy(Json::writeString(Json::StreamWriterBuilder(), root));
}

// Decodes a gateway reply the way the client thread does: envelope, then its result.
tessel::gc::Pointer<ClientConfiguration> load(const String& reply) {
    MediationResponse response(reply);
    return ClientConfiguration::load(*response.result());
}

tessel::gc::Pointer<ClientConfiguration> loadFixture(const std::string& name) {
    return load(fixture(name));
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

// The record the client of this system loads.
#ifdef _WIN32
#define NATIVE_RECORD m_win32
#else
#define NATIVE_RECORD m_linux64
#endif

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
    EXPECT_EQ(&element->m_hostcheckerDlls.native(), &element->m_hostcheckerDlls.NATIVE_RECORD);
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
    expectDll(element->m_pluginDlls.m_linux64, "vpn-2.4.1.zip", "8277e0910d750195b448797616e091ad",
              "vpn");
    expectDll(element->m_pluginDlls.m_win32, "vpn-2.4.1-win32.zip",
              "0cc175b9c0f1b6a831c399e269772661", "vpn");
    EXPECT_EQ(&element->m_pluginDlls.native(), &element->m_pluginDlls.NATIVE_RECORD);
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
    expectDll(element->m_pluginDlls.m_linux64, "launcher-2.4.1.zip",
              "1dcca23355272056f04fe8bf20edfce0", "launcher");
    EXPECT_EQ(&element->m_pluginDlls.native(), &element->m_pluginDlls.NATIVE_RECORD);
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
        auto configuration =
            load(fixtureWithout("reply_plugindll.json", "result/sslservercertname"));
        auto* element = dynamic_cast<ClientPluginDllConfiguration*>(configuration->element());
        ASSERT_NE(element, nullptr);
        EXPECT_TRUE(element->m_sslservercertname.empty());
        EXPECT_TRUE(log.entries().empty());
    }
    {
        SCOPED_TRACE("component without md5");
        auto configuration =
            load(fixtureWithout("reply_plugindll.json", "result/pluginDlls/linux64/md5"));
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
        const char* path;  // the member taken out; the log names its last key
    } cases[] = {
        {"reply_hostchecker.json", "result/hostcheckerDlls"},
        {"reply_hostchecker.json", "result/hostcheckingrequest"},
        {"reply_hostchecker.json", "result/responseurl"},
        {"reply_hostchecker.json", "result/hostname"},
        {"reply_hostchecker.json", "result/language"},
        {"reply_hostchecker.json", "result/hostcheckingtimer"},
        {"reply_plugindll.json", "result/orgname"},
        {"reply_plugindll.json", "result/server"},
        {"reply_plugindll.json", "result/certPassword"},
        {"reply_plugindll.json", "result/login"},
        {"reply_plugindll.json", "result/ticket"},
        {"reply_plugindll.json", "result/sessionid"},
        {"reply_plugindll.json", "result/pluginDlls"},
        {"reply_plugindll.json", "result/certificates"},
        {"reply_plugindll.json", "result/clientid"},
        {"reply_plugindllnotunnel.json", "result/orgname"},
        {"reply_plugindllnotunnel.json", "result/pluginDlls"},
        {"reply_plugindllnotunnel.json", "result/service"},
        {"reply_plugindllnotunnel.json", "result/clientid"},
        {"reply_plugindllnotunnel.json", "result/safetype"},
        {"reply_plugindll.json", "result/type"},
        // Nested records: a record that is present must be complete.
        {"reply_plugindll.json", "result/pluginDlls/linux64/filename"},
        {"reply_plugindll.json", "result/pluginDlls/linux64/urlpath"},
        {"reply_plugindll.json", "result/pluginDlls/linux64/pattern"},
        {"reply_plugindll.json", "result/pluginDlls/linux64/version"},
        {"reply_plugindll.json", "result/certificates/cert"},
        {"reply_plugindll.json", "result/certificates/ca"},
        {"reply_plugindll.json", "result/certificates/ca/filename"},
        {"reply_plugindll.json", "result/certificates/ca/urlpath"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " without " + c.path);
        MediationResponse response(fixtureWithout(c.fixture, c.path));
        LogCapture log;
        EXPECT_THROW(ClientConfiguration::load(*response.result()), tessel::EConfMissingKey);
        std::vector<std::string> entries = log.entries();
        ASSERT_FALSE(entries.empty());
        std::string key = std::string(c.path).substr(std::string(c.path).rfind('/') + 1);
        EXPECT_EQ(entries[0], "ERROR ConfReadHelper.readKey Missing tag: <" + key + ">");
    }
}

TEST(ClientConfiguration, NestedFailureNamesTheOuterKeyToo) {
    MediationResponse response(
        fixtureWithout("reply_plugindll.json", "result/pluginDlls/linux64/pattern"));
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
        {"reply_plugindllnotunnel.json", "\"/components/\"", "urlpath", "dict://127.0.0.1:11211/",
         "dict"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string text =
            vexlan::testing::readFile(std::string(VEXLAN_TEST_DATA) + "/" + c.fixture);
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
