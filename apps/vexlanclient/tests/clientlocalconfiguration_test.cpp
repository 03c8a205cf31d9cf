#include "vexlanclient/clientlocalconfiguration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/file.h"
#include "sandbox.h"
#ifdef _WIN32
#include "windows/wineprobe.h"
#else
#include "vexlanclient/unix/dataprotection_unix.h"
#endif
#include "xml/parser.h"

using tessel::Credentials;
using tessel::String;
using vexlan::ClientLocalConfiguration;
using vexlan::testing::LogCapture;
using vexlan::testing::readFile;
using vexlan::testing::Sandbox;
using vexlan::testing::writeFile;

namespace {

const char kCannotUnprotect[] =
    "ERROR ProtectedCredentials.read Can not unprotect the proxy password: it is left empty";

// A sandbox with the program folder and the settings path in it.
class Settings : public ::testing::Test {
public:
    Settings() {
        std::filesystem::create_directories(tessel::getProgramDirectory().toStd());
        path = tessel::getSettingsFilePath().toStd();
    }

    ClientLocalConfiguration load() {
        ClientLocalConfiguration settings;
        settings.readFromFile(String::copy(path));
        return settings;
    }

    // Settings with markup in every text the user types.
    static ClientLocalConfiguration sample(const char* password) {
        ClientLocalConfiguration settings;
        settings.certificateExceptions().push_back("intranet<1>&co:8443");
        settings.certificateExceptions().push_back("plain.example");
        settings.setProxyCredentials(Credentials("a<b&c>d", password, "D&<>"));
        settings.setHostCheckerDownload(false);
        return settings;
    }

    static void expectSample(const ClientLocalConfiguration& settings) {
        ASSERT_EQ(settings.certificateExceptions().size(), 2u);
        EXPECT_EQ(settings.certificateExceptions().front(), "intranet<1>&co:8443");
        EXPECT_EQ(settings.certificateExceptions().back(), "plain.example");
        EXPECT_EQ(settings.proxyCredentials().login(), "a<b&c>d");
        EXPECT_EQ(settings.proxyCredentials().domain(), "D&<>");
        EXPECT_FALSE(settings.hostCheckerDownload());
        EXPECT_TRUE(settings.pluginDownload());
    }

    // The Base64 text of "password" in the saved file.
    std::string passwordText() {
        std::smatch match;
        std::string content = readFile(path);
        EXPECT_TRUE(std::regex_search(content, match, std::regex("security=\"1\">([^<]*)<")));
        return match[1];
    }

    void replacePasswordText(const std::string& text) {
        std::string content = readFile(path);
        std::string old = passwordText();
        content.replace(content.find(old), old.size(), text);
        writeFile(path, content);
    }

    std::vector<std::string> programFolder() {
        std::vector<std::string> names;
        for (const auto& e :
             std::filesystem::directory_iterator(tessel::getProgramDirectory().toStd())) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    Sandbox sandbox;
    std::string path;
};

TEST_F(Settings, NoFileGivesTheDefaults) {
    LogCapture capture;
    ClientLocalConfiguration settings = load();
    EXPECT_TRUE(settings.pluginDownload());
    EXPECT_TRUE(settings.hostCheckerDownload());
    EXPECT_TRUE(settings.certificateExceptions().empty());
    EXPECT_EQ(settings.proxyCredentials(), Credentials());
    EXPECT_TRUE(capture.contains(
        "ERROR ClientLocalConfiguration.readFromFile Can not read local configuration from " +
        path));
}

TEST_F(Settings, UnreadableDocumentsKeepTheSettings) {
    for (const char* content :
         {"not xml", "<other><plugindll><download>false</download></plugindll></other>",
          "<vexlanclient><plugindll"}) {
        SCOPED_TRACE(content);
        writeFile(path, content);
        ClientLocalConfiguration settings;
        settings.setPluginDownload(false);
        settings.certificateExceptions().push_back("kept");
        LogCapture capture;
        settings.readFromFile(String::copy(path));
        EXPECT_FALSE(settings.pluginDownload());
        EXPECT_EQ(settings.certificateExceptions().size(), 1u);
        EXPECT_TRUE(capture.contains(
            "ERROR ClientLocalConfiguration.readFromFile Can not read local configuration from " +
            path));
    }
}

TEST_F(Settings, DownloadFlagsAreFalseOnlyForFalse) {
    const std::pair<const char*, bool> cases[] = {
        {"FALSE", false}, {"false", false}, {" False ", false}, {"no", true},
        {"0", true},      {"", true},       {"off", true},
    };
    for (const auto& c : cases) {
        std::string text = std::string("<vexlanclient><hostcheckerdll><download>") + c.first +
                           "</download></hostcheckerdll><plugindll><download>" + c.first +
                           "</download></plugindll></vexlanclient>";
        writeFile(path, text);
        ClientLocalConfiguration settings = load();
        EXPECT_EQ(settings.hostCheckerDownload(), c.second) << c.first;
        EXPECT_EQ(settings.pluginDownload(), c.second) << c.first;
    }
    writeFile(path, "<VexlanClient><hostcheckerdll/></VexlanClient>");
    ClientLocalConfiguration settings;
    settings.setHostCheckerDownload(false);
    settings.setPluginDownload(false);
    settings.readFromFile(String::copy(path));
    EXPECT_TRUE(settings.hostCheckerDownload());
    EXPECT_TRUE(settings.pluginDownload());
}

TEST_F(Settings, MarkupInTextsSurvivesSaveAndLoad) {
    sample("p<&>ss w0rd").writeToFile(String::copy(path));
    std::string content = readFile(path);
    EXPECT_NE(content.find("<login>a&lt;b&amp;c&gt;d</login>"), std::string::npos) << content;
    EXPECT_NE(content.find("<domains>intranet&lt;1&gt;&amp;co:8443</domains>"), std::string::npos);

    ClientLocalConfiguration settings = load();
    expectSample(settings);
    EXPECT_EQ(settings.proxyCredentials().password(), "p<&>ss w0rd");
}

// The confirmed gateways as the file holds them, read back, written again and read again: what
// a hand-edited file holds (markup included) comes back exactly, escaped in the file.
TEST_F(Settings, ConfirmedGatewaysSurviveSaveAndLoad) {
    struct Case {
        const char* name;
        const char* list;  // the element's content in the file
        std::vector<std::string> gateways;
        const char* written;  // a part of the rewritten file
    };
    const Case cases[] = {
        {"none", "", {}, "<confirmedgateways>\r\n </confirmedgateways>"},
        {"one",
         "<gateway>gw.example:8443</gateway>",
         {"gw.example:8443"},
         "<gateway>gw.example:8443</gateway>"},
        {"two in their order",
         "<gateway>b.example</gateway><gateway>a.example</gateway>",
         {"b.example", "a.example"},
         "<gateway>b.example</gateway>"},
        {"markup",
         "<gateway>evil&lt;x&gt;&amp;co</gateway><gateway>&quot;q&apos;</gateway>",
         {"evil<x>&co", "\"q'"},
         "<gateway>evil&lt;x&gt;&amp;co</gateway>"},
        {"other elements are not gateways",
         "<domains>x.example</domains><gateway>y.example</gateway>",
         {"y.example"},
         "<gateway>y.example</gateway>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, std::string("<vexlanclient><sslcertignoredomains><domains>e.example"
                                    "</domains></sslcertignoredomains><confirmedgateways>") +
                            c.list + "</confirmedgateways></vexlanclient>");
        ClientLocalConfiguration first = load();
        std::vector<std::string> read;
        for (const String& g : first.confirmedGateways())
            read.push_back(g.toStd());
        EXPECT_EQ(c.gateways, read);
        ASSERT_EQ(1u, first.certificateExceptions().size());

        first.writeToFile(String::copy(path));
        std::string content = readFile(path);
        EXPECT_NE(std::string::npos, content.find(c.written)) << content;
        ClientLocalConfiguration second = load();
        std::vector<std::string> again;
        for (const String& g : second.confirmedGateways())
            again.push_back(g.toStd());
        EXPECT_EQ(c.gateways, again);
    }
}

TEST_F(Settings, ConfirmingAGatewayKeepsOneComparedFormOfIt) {
    ClientLocalConfiguration settings;
    for (const char* authority :
         {"GW.Example:443", "gw.example", "gw.example:8443", "bad host", "[::1]:9443", ""}) {
        settings.confirmGateway(authority);
    }
    std::vector<std::string> gateways;
    for (const String& g : settings.confirmedGateways())
        gateways.push_back(g.toStd());
    EXPECT_EQ((std::vector<std::string>{"gw.example", "gw.example:8443", "[::1]:9443"}), gateways);
    EXPECT_TRUE(load().confirmedGateways().empty());  // a file that has none
}

TEST_F(Settings, FileLayout) {
    ClientLocalConfiguration settings;
    settings.certificateExceptions().push_back("gw.example:8443");
    settings.confirmGateway("gw.example:8443");
    settings.setProxyCredentials(Credentials("bob", "pw", "CORP"));
    settings.setPluginDownload(false);
    settings.writeToFile(String::copy(path));
    std::string content = readFile(path);
    content.replace(content.find(passwordText()), passwordText().size(), "BLOB");
    EXPECT_EQ(content,
              "<vexlanclient>\r\n"
              " <sslcertignoredomains>\r\n"
              "  <domains>gw.example:8443</domains>\r\n"
              " </sslcertignoredomains>\r\n"
              " <confirmedgateways>\r\n"
              "  <gateway>gw.example:8443</gateway>\r\n"
              " </confirmedgateways>\r\n"
              " <proxy>\r\n"
              "  <credentials>\r\n"
              "   <login>bob</login>\r\n"
              "   <password security=\"1\">BLOB</password>\r\n"
              "   <domain>CORP</domain>\r\n"
              "  </credentials></proxy>\r\n"
              " <hostcheckerdll>\r\n"
              "  <download>true</download></hostcheckerdll>\r\n"
              " <plugindll>\r\n"
              "  <download>false</download></plugindll>\r\n"
              "</vexlanclient>");
}

TEST_F(Settings, PasswordIsNeverInClear) {
    const std::string password = "Tr0ub4dor&3";
    sample(password.c_str()).writeToFile(String::copy(path));
    std::string content = readFile(path);
    EXPECT_EQ(content.find(password), std::string::npos);
    EXPECT_EQ(content.find(tessel::base64Encode(String(password.c_str())).toStd()),
              std::string::npos);
    tessel::Buffer blob = tessel::base64Decode(String::copy(passwordText()));
    std::string raw(reinterpret_cast<const char*>(blob.data()), blob.length());
    EXPECT_EQ(raw.find(password), std::string::npos);
#ifndef _WIN32
    EXPECT_EQ(blob.length(), password.size() + 29);
#endif
    EXPECT_EQ(load().proxyCredentials().password(), String(password.c_str()));
}

TEST_F(Settings, EmptyPasswordIsProtectedLikeAnyOther) {
    sample("").writeToFile(String::copy(path));
#ifdef _WIN32
    EXPECT_GT(tessel::base64Decode(String::copy(passwordText())).length(), 0u);
#else
    EXPECT_EQ(tessel::base64Decode(String::copy(passwordText())).length(), 29u);
#endif
    ClientLocalConfiguration settings = load();
    expectSample(settings);
    EXPECT_EQ(settings.proxyCredentials().password(), "");
}

TEST_F(Settings, PasswordThatCannotBeUnprotectedKeepsTheRest) {
    struct Case {
        const char* name;
        std::function<void(Settings&)> damage;
    };
    const Case cases[] = {
#ifndef _WIN32
        {"protected for another user",
         [](Settings& s) {
             namespace up = vexlan::unixprotection;
             const char secret[] = "secret";
             tessel::Buffer blob = vexlan::sealSecret(up::loadKey(false), up::currentUserId() + 1,
                                                      tessel::Buffer(secret, 6));
             s.replacePasswordText(tessel::base64Encode(blob).toStd());
         }},
        {"key file gone",
         [](Settings&) { std::filesystem::remove(vexlan::unixprotection::keyFilePath()); }},
#endif
        {"one byte changed",
         [](Settings& s) {
             tessel::Buffer blob = tessel::base64Decode(String::copy(s.passwordText()));
#ifdef _WIN32
             // In the signature: the system's blob has header fields it does not check.
             blob.mutableData()[blob.length() - 1] ^= 0x20;
#else
             blob.mutableData()[blob.length() / 2] ^= 0x20;
#endif
             s.replacePasswordText(tessel::base64Encode(blob).toStd());
         }},
        {"not Base64 of a blob", [](Settings& s) { s.replacePasswordText("c2VjcmV0"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sample("secret").writeToFile(String::copy(path));
        c.damage(*this);
        LogCapture capture;
        ClientLocalConfiguration settings = load();
        expectSample(settings);
        EXPECT_EQ(settings.proxyCredentials().password(), "");
        EXPECT_TRUE(capture.contains(kCannotUnprotect));
    }
}

TEST_F(Settings, FileFromAnotherAccount) {
#ifdef _WIN32
    // Protected by the system for the user of another Wine prefix: Wine's data protection uses
    // one key for every user, so there it unprotects; Windows refuses another user's blob.
    if (vexlan::testing::runningUnderWine())
        GTEST_SKIP() << "Wine's data protection is not bound to the user";
    const char fixture[] = "/settings_from_another_windows_account.xml";
#else
    // Saved elsewhere: the key of this sandbox is another one.
    const char fixture[] = "/settings_from_another_account.xml";
#endif
    std::filesystem::copy_file(std::string(VEXLAN_TEST_DATA) + fixture, path);
    sample("mine").writeToFile(tessel::getProgramDirectory() + "/unused.xml");
    LogCapture capture;
    ClientLocalConfiguration settings = load();
    EXPECT_TRUE(capture.contains(kCannotUnprotect));
    EXPECT_EQ(settings.proxyCredentials(), Credentials("j.smith", "", "CORP"));
    ASSERT_EQ(settings.certificateExceptions().size(), 1u);
    EXPECT_EQ(settings.certificateExceptions().front(), "intranet.example.com");
    EXPECT_FALSE(settings.pluginDownload());
}

TEST_F(Settings, CredentialsWithoutPasswordAreSkipped) {
    writeFile(path,
              "<vexlanclient><proxy><credentials><login>bob</login></credentials></proxy>"
              "<plugindll><download>false</download></plugindll></vexlanclient>");
    LogCapture capture;
    ClientLocalConfiguration settings = load();
    EXPECT_EQ(settings.proxyCredentials(), Credentials());
    EXPECT_FALSE(settings.pluginDownload());
    EXPECT_TRUE(capture.contains("ERROR ConfReadHelper.readKey Missing tag: <password>"));
    EXPECT_TRUE(
        capture.contains("ERROR ConfReadHelper.readKey Error while reading key: \"credentials\""));
}

#ifndef _WIN32
// (The system's data protection on Windows cannot be made to fail from a test.)
TEST_F(Settings, AFailedSaveLeavesThePreviousFile) {
    sample("secret").writeToFile(String::copy(path));
    std::string before = readFile(path);
    // The key can no longer be used: protecting the password fails half-way through the save.
    ::chmod(vexlan::unixprotection::keyFilePath().c_str(), 0644);
    ClientLocalConfiguration changed = sample("other");
    changed.setPluginDownload(false);
    LogCapture capture;
    EXPECT_THROW(changed.writeToFile(String::copy(path)), tessel::xml::EParser);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(programFolder(), std::vector<std::string>{"vexlanclient.xml"});
    EXPECT_TRUE(capture.contains("ERROR XmlParser.save cannot save " + path));
    bool thrown = false;
    const char expected[] = "TRACE Exception.catch tessel::Exception:clientlocalconfiguration:96";
    for (const std::string& entry : capture.entries()) {
        if (entry.rfind(expected, 0) == 0) {
            thrown = true;
        }
    }
    EXPECT_TRUE(thrown);
}

#endif

TEST_F(Settings, AFolderThatCannotTakeTheFileIsReported) {
    LogCapture capture;
    String missing = tessel::getProgramDirectory() + "/missing/vexlanclient.xml";
    EXPECT_THROW(sample("x").writeToFile(missing), tessel::xml::EParser);
    bool reported = false;
    for (const std::string& entry : capture.entries()) {
        if (entry.rfind("ERROR XmlParser.save cannot open ", 0) == 0)
            reported = true;
    }
    EXPECT_TRUE(reported);
}

TEST(ClientLocalConfiguration, SequentialFormsAreNotImplemented) {
    ClientLocalConfiguration settings;
    tessel::File file;
    try {
        settings.read(static_cast<tessel::IReader&>(file));
        ADD_FAILURE();
    } catch (const tessel::ENotImplemented& e) {
        EXPECT_EQ(e.file(), "clientlocalconfiguration");
        EXPECT_EQ(e.line(), 17u);
    }
    try {
        settings.write(static_cast<tessel::IWriter&>(file));
        ADD_FAILURE();
    } catch (const tessel::ENotImplemented& e) {
        EXPECT_EQ(e.line(), 36u);
    }
}

}  // namespace
