#include "vexlanclient/plugindllinstance.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/proxy.h"
#include "recorder.h"
#include "sandbox.h"

using tessel::String;
using vexlan::PluginDllInstance;
using vexlan::PluginParameters;
using vexlan::testing::isLoaded;
using vexlan::testing::LogCapture;
using vexlan::testing::Recorder;
using Lines = std::vector<std::string>;

namespace {

const std::string kRecorder = VEXLAN_PLUGIN_RECORDER;

int testDelegate(const char*, const char*) {
    return 1;
}

std::unique_ptr<PluginDllInstance> load(const std::string& path) {
    return std::make_unique<PluginDllInstance>(String::copy(path), "2.4.1", "/plugins/");
}

PluginParameters parameters(std::vector<String> names) {
    PluginParameters p;
    p.login = "jdoe";
    p.organisation = "Example Org";
    p.hostname = "gateway.example.test:8443";
    p.server = "vpn.example.test:443";
    p.suffix = "CL-9c41e2";
    p.ticket = "TK-7f3a";
    p.sessionId = "SID-42";
    p.certificateDirectory = "/plugins/PKIs/Example Org/";
    p.certificateFileName = "jdoe.p12";
    p.caFileName = "ca.pem";
    p.certificatePassword = "p12-Secret";
    p.sslServerCertificateNames = std::move(names);
    p.downloadDelegate = &testDelegate;
    return p;
}

const Lines kLoadCalls = {
    "DllCreatePluginFrontal -> H1",
    "DllSetDllVersion2 H1 2.4.1",
    "DllSetPluginDir2 H1 /plugins/",
};

const Lines kSetterCalls = {
    "DllSetLogin2 H1 jdoe",
    "DllSetOrganization2 H1 Example Org",
    "DllSetHostname2 H1 gateway.example.test:8443",
    "DllSetServer2 H1 vpn.example.test:443",
    "DllSetSuffix2 H1 CL-9c41e2",
    "DllSetTicket2 H1 TK-7f3a",
    "DllSetSessionId2 H1 SID-42",
    "DllSetCertDirectory2 H1 /plugins/PKIs/Example Org/",
    "DllSetCertFileName2 H1 jdoe.p12",
    "DllSetCaFileName2 H1 ca.pem",
    "DllSetCertPassword2 H1 p12-Secret",
    "DllSetDownloadDelegate2 H1 delegate",
};

Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(PluginDllInstanceTest, ConfigureAndStartCallsEveryExportInOrderWithTheHandle) {
    struct Case {
        const char* what;
        std::string library;
        std::vector<String> names;
        Lines nameCalls;
        Lines errors;  // log entries at loading
    };
    const std::string missingName =
        "ERROR PluginDllInstance.PluginDllInstance DllAddSslServerCertificateName missing. SSL "
        "server certificate name verification disabled";
    const Case cases[] = {
        {"two names",
         kRecorder,
         {"vpn.example.test", "vpn-backup.example.test"},
         {"DllAddSslServerCertificateName H1 vpn.example.test",
          "DllAddSslServerCertificateName H1 vpn-backup.example.test"},
         {}},
        {"no names", kRecorder, {}, {}, {}},
        {"component without the export",
         VEXLAN_PLUGIN_RECORDER_WITHOUT_SSLNAME,
         {"vpn.example.test"},
         {},
         {missingName}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder(c.library);
        LogCapture capture;
        auto instance = load(c.library);
        EXPECT_EQ(capture.entries(), c.errors);
        EXPECT_EQ(recorder.calls(), kLoadCalls);

        instance->configureAndStart(parameters(c.names));
        Lines expected =
            concat(concat(concat(kLoadCalls, kSetterCalls), c.nameCalls), {"DllStart2 H1"});
        EXPECT_EQ(recorder.calls(), expected);
        // The delegate handed over is the caller's function itself.
        EXPECT_EQ(recorder.delegate(), &testDelegate);
        EXPECT_EQ(instance->hasAddSslServerCertificateName(), c.errors.empty());
    }
}

TEST(PluginDllInstanceTest, AMissingMandatoryExportRefusesTheLibrary) {
    struct Case {
        std::string library;
        const char* missing;
    };
    for (const Case& c : {Case{VEXLAN_PLUGIN_RECORDER_WITHOUT_GETLOGS, "DllGetLogs2"},
                          Case{VEXLAN_PLUGIN_RECORDER_WITHOUT_EXECUTE, "DllExecute2"}}) {
        SCOPED_TRACE(c.missing);
        LogCapture capture;
        EXPECT_THROW(load(c.library), tessel::EModuleLoader);
        Lines entries = capture.entries();
        ASSERT_EQ(entries.size(), 1u);
        std::string prefix =
            std::string("ERROR ModuleLoader.ModuleLoader Unable to load \"") + c.missing + "\": ";
        EXPECT_EQ(entries[0].rfind(prefix, 0), 0u) << entries[0];
        // Refused before any plugin object was made, and released again.
        EXPECT_FALSE(isLoaded(c.library));
    }
}

TEST(PluginDllInstanceTest, APluginObjectThatCannotBeMadeRefusesTheLibrary) {
    const std::string library = VEXLAN_PLUGIN_RECORDER_NULL_HANDLE;
    LogCapture capture;
    try {
        load(library);
        FAIL() << "no exception";
    } catch (const tessel::EPluginDllInstance& e) {
        EXPECT_EQ(e.message().toStd(), "EPluginDllInstance");
    }
    EXPECT_EQ(capture.entries(),
              Lines{"ERROR PluginDllInstance.PluginDllInstance Unable to create dll instance !"});
    EXPECT_FALSE(isLoaded(library));
}

TEST(PluginDllInstanceTest, ProxyText) {
    struct Case {
        uint16_t type;
        const char* address;
        tessel::Credentials credentials;
        const char* text;
    };
    const Case cases[] = {
        {tessel::Proxy::kNone, "", {"u", "p", ""}, "1|no||u|p||save:no"},
        {tessel::Proxy::kSocks4,
         "10.0.0.1:1080",
         {"", "", ""},
         "1|socks4|10.0.0.1:1080||||save:no"},
        {tessel::Proxy::kSocks5,
         "proxy.example.test:1080",
         {"jdoe", "s3cret", "CORP"},
         "1|socks5|proxy.example.test:1080|jdoe|s3cret|CORP|save:no"},
        {tessel::Proxy::kHttps, "proxy:3128", {"a", "", "d"}, "1|https|proxy:3128|a||d|save:no"},
        // Any other kind is handed over as no proxy, its address kept as stored.
        {9, "odd:1", {"", "", ""}, "1|no|odd:1||||save:no"},
    };
    Recorder recorder(kRecorder);
    auto instance = load(kRecorder);
    for (const Case& c : cases) {
        tessel::Proxy proxy(c.type, c.address);
        proxy.setCredentials(c.credentials);
        EXPECT_EQ(PluginDllInstance::proxyText(proxy), c.text);
        instance->setProxy(proxy);
        EXPECT_EQ(recorder.calls().back(), std::string("DllSetProxy2 H1 ") + c.text);
    }
}

TEST(PluginDllInstanceTest, EveryReturnedTextIsCopiedAndReleasedOnce) {
    Recorder recorder(kRecorder);
    auto instance = load(kRecorder);
    recorder.queueErrors(R"([{"code":5,"status":"init"}])");
    recorder.queueErrors(nullptr);
    recorder.queueErrors("");
    recorder.queueLogs("log:/tmp/x;flush");
    recorder.queueLogs(nullptr);

    EXPECT_EQ(instance->getErrors(), R"([{"code":5,"status":"init"}])");
    EXPECT_EQ(instance->getErrors(), "");  // null counts as empty
    EXPECT_EQ(instance->getErrors(), "");
    EXPECT_EQ(instance->getLogs(), "log:/tmp/x;flush");
    EXPECT_EQ(instance->getLogs(), "");

    // Each text goes back right after it was copied, once; a null is not handed back.
    EXPECT_EQ(recorder.calls(), concat(kLoadCalls, {
                                                       "DllGetErrors2 H1 -> T1",
                                                       "DllReleaseStr T1",
                                                       "DllGetErrors2 H1 -> null",
                                                       "DllGetErrors2 H1 -> T2",
                                                       "DllReleaseStr T2",
                                                       "DllGetLogs2 H1 -> T3",
                                                       "DllReleaseStr T3",
                                                       "DllGetLogs2 H1 -> null",
                                                   }));
    EXPECT_EQ(recorder.liveTexts(), 0);
}

TEST(PluginDllInstanceTest, ExecuteLaunchAndStop) {
    Recorder recorder(kRecorder);
    auto instance = load(kRecorder);
    instance->execute("log:/tmp/tunnel.log");
    instance->launchSafeResource(1, "rdp://desktop.example.test:3389", &testDelegate);
    instance->stop();
    EXPECT_EQ(recorder.calls(), concat(kLoadCalls, {
                                                       "DllExecute2 H1 log:/tmp/tunnel.log||",
                                                       "DllSetDownloadDelegate2 H1 delegate",
                                                       "LaunchSafeResource H1 1 "
                                                       "rdp://desktop.example.test:3389",
                                                       "DllStop2 H1",
                                                   }));
    EXPECT_EQ(recorder.delegate(), &testDelegate);
}

TEST(PluginDllInstanceTest, WithoutLaunchSafeResourceOnlyTheDelegateIsSet) {
    const std::string library = VEXLAN_PLUGIN_RECORDER_WITHOUT_LAUNCH;
    Recorder recorder(library);
    LogCapture capture;
    auto instance = load(library);
    EXPECT_EQ(capture.entries(), Lines{"ERROR PluginDllInstance.PluginDllInstance "
                                       "LaunchSafeResource missing. LaunchSafeResource disabled"});
    EXPECT_FALSE(instance->hasLaunchSafeResource());
    instance->launchSafeResource(1, "rdp://desktop.example.test:3389", &testDelegate);
    EXPECT_EQ(recorder.calls(), concat(kLoadCalls, {"DllSetDownloadDelegate2 H1 delegate"}));
}

TEST(PluginDllInstanceTest, AKeptInstanceStaysLoaded) {
    // The variant without launch is loaded by this test alone.
    const std::string library = VEXLAN_PLUGIN_RECORDER_WITHOUT_LAUNCH;
    ASSERT_FALSE(isLoaded(library));
    vexlan::keepLoaded(load(library).release());
    EXPECT_TRUE(isLoaded(library));
}
