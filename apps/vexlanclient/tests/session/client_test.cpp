// VexlanClient in-process against the demo gateway: one run, its notifications, the settings
// it reads and saves, and where its log goes.
#include "vexlanclient/client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/file.h"
#include "demogateway.h"
#include "sandbox.h"

namespace vexlan {
namespace {

using testing::DemoGateway;
using testing::RecordingNotify;
using testing::Sandbox;
using testing::writeTrustingSettings;

std::string startParameter(const DemoGateway& gateway, const std::string& id = "u1") {
    return "vexlan://" + id + "@" + gateway.authority() + "/mediation?lang=en";
}

TEST(VexlanClientTest, ConstructionPreparesTheProgramFolder) {
    Sandbox sandbox;
    std::string folder = sandbox.path("Vexlan");
    RecordingNotify notify;
    VexlanClient client(&notify);
    EXPECT_TRUE(tessel::isDirectory(folder.c_str()));
    EXPECT_EQ(folder, tessel::getCurrentDirectory().toStd());
    EXPECT_EQ(folder + "/vexlanclient.xml", VexlanClient::settingsFilePath().toStd());
    EXPECT_EQ("/tmp/vexlanclient.log", tessel::console()->outputName(0).toStd());
    EXPECT_FALSE(client.isRunning());
    EXPECT_FALSE(client.hasSubClient());
    EXPECT_FALSE(client.stopSubClient());
}

// The shared log path is replaced by a link for the length of the test (the test holds the
// vexlan_log lock): the client must not write through it but into its program folder.
TEST(VexlanClientTest, LogGoesToTheProgramFolderWhenTheSharedLogIsALink) {
    Sandbox sandbox;
    const char* shared = VexlanClient::kLogFile;
    std::string aside = sandbox.path("previous.log");
    bool hadLog = std::rename(shared, aside.c_str()) == 0;
    std::string target = sandbox.path("link-target.log");
    testing::writeFile(target, "");
    ASSERT_EQ(0, symlink(target.c_str(), shared));
    {
        RecordingNotify notify;
        VexlanClient client(&notify);
        tessel::log(2, "VexlanClientTest", "link", "a line for the fallback log");
    }
    unlink(shared);
    if (hadLog)
        std::rename(aside.c_str(), shared);
    EXPECT_EQ("", testing::readFile(target));
    std::string fallback = testing::readFile(sandbox.path("Vexlan/vexlanclient.log"));
    EXPECT_NE(std::string::npos, fallback.find("VexlanClientTest.link a line for the fallback"));
    EXPECT_NE(std::string::npos, fallback.find("Vexlan directory is : " + sandbox.path("Vexlan")));
}

TEST(VexlanClientTest, SettingsAreCopiedSavedAndReadBack) {
    Sandbox sandbox;
    RecordingNotify notify;
    {
        VexlanClient client(&notify);
        ClientLocalConfiguration settings = client.localConfiguration();
        settings.certificateExceptions().push_back("gateway.test:8443");
        settings.setHostCheckerDownload(false);
        // A copy: nothing changes until it is handed back.
        EXPECT_TRUE(client.localConfiguration().certificateExceptions().empty());
        client.setLocalConfiguration(settings);
        EXPECT_TRUE(client.sharedLocalConfiguration().isCertificateException("gateway.test:8443"));
        client.saveLocalConfiguration();
    }
    VexlanClient reread(&notify);
    ClientLocalConfiguration settings = reread.localConfiguration();
    ASSERT_EQ(1u, settings.certificateExceptions().size());
    EXPECT_EQ("gateway.test:8443", settings.certificateExceptions().front().toStd());
    EXPECT_FALSE(settings.hostCheckerDownload());
}

TEST(VexlanClientTest, HostCheckSessionRunsToItsEnd) {
    Sandbox sandbox;
    DemoGateway gateway("hostchecker", {"--rounds", "2"});
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    VexlanClient client(&notify);
    client.setStartParameter(tessel::String::copy(startParameter(gateway)));
    client.run();
    ASSERT_TRUE(client.wait(120000));
    EXPECT_EQ((std::vector<std::string>{"sessionType 3", "status 2", "status 5", "status 4"}),
              notify.events());
    EXPECT_EQ(2, gateway.posts());
    EXPECT_EQ(gateway.authority(), client.gatewayAuthority().toStd());
    ASSERT_TRUE(client.configuration());
    EXPECT_EQ("hostchecker", client.configuration()->type().toStd());
    EXPECT_FALSE(client.hasSubClient());
}

// VEXLAN_GATEWAYS_FILE pointed at a file of the sandbox while it lives (no file: absent).
class AdministratorFile {
public:
    AdministratorFile(const Sandbox& sandbox, const char* content) {
        const std::string path = sandbox.path("gateways");
        if (content)
            testing::writeFile(path, content);
        setenv("VEXLAN_GATEWAYS_FILE", path.c_str(), 1);
    }
    ~AdministratorFile() { unsetenv("VEXLAN_GATEWAYS_FILE"); }
};

struct GatewayPolicyCase {
    const char* name;
    const char* administratorFile;  // "{gw}" stands for the gateway's authority; null: none
    bool confirmationRequired;
    bool confirmedInSettings;
    const char* lastEvent;  // "{gw}" as above
};

// The administrator's "only-listed" refuses in every program; a program that asks for
// confirmation contacts only a confirmed or listed gateway. A refused run sends nothing.
TEST(VexlanClientTest, GatewayPolicyDecidesBeforeAnythingIsSent) {
    const GatewayPolicyCase cases[] = {
        {"only-listed, not listed", "# site policy\nonly-listed\nother.example\n", false, true,
         "mediationFailed the gateway {gw} is not allowed on this computer"},
        {"only-listed and listed", "only-listed\n{gw}  # the test gateway\n", true, false,
         "status 4"},
        {"not confirmed", nullptr, true, false, "mediationFailed "},
        {"confirmed", nullptr, true, true, "status 4"},
        {"listed, no confirmation", "{gw}\n", true, false, "status 4"},
        {"no confirmation asked", "", false, false, "status 4"},
    };
    auto fill = [](std::string text, const std::string& authority) {
        for (size_t at; (at = text.find("{gw}")) != std::string::npos;)
            text.replace(at, 4, authority);
        return text;
    };
    for (const GatewayPolicyCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        DemoGateway gateway("hostchecker", {"--rounds", "1"});
        writeTrustingSettings(
            sandbox.home(), gateway.authority(),
            c.confirmedInSettings ? testing::Confirmed::kYes : testing::Confirmed::kNo);
        std::string administrator;
        if (c.administratorFile)
            administrator = fill(c.administratorFile, gateway.authority());
        AdministratorFile file(sandbox, c.administratorFile ? administrator.c_str() : nullptr);
        RecordingNotify notify;
        VexlanClient client(&notify);
        client.setGatewayConfirmationRequired(c.confirmationRequired);
        testing::LogCapture log;
        client.setStartParameter(tessel::String::copy(startParameter(gateway)));
        client.run();
        ASSERT_TRUE(client.wait(120000));
        const std::string expected = fill(c.lastEvent, gateway.authority());
        ASSERT_FALSE(notify.events().empty());
        EXPECT_EQ(expected, notify.events().back());
        if (expected == "status 4") {
            EXPECT_EQ(1, gateway.posts());
        } else {
            EXPECT_EQ(1u, notify.events().size());
            EXPECT_EQ(0u, gateway.requests().size());
            const std::vector<std::string> entries = log.entries();
            ASSERT_EQ(1u, entries.size());
            EXPECT_EQ(0u, entries.front().rfind("ERROR VexlanClient.main the gateway ", 0))
                << entries.front();
        }
    }
}

struct FailureCase {
    const char* scenario;
    const char* lastEvent;
    const char* logEntry;
};

TEST(VexlanClientTest, EachFailureEndsInOneNotification) {
    const FailureCase cases[] = {
        {"refuse", "mediationFailed ", "ERROR VexlanClient.main"},
        {"http404", "mediationFailed ", "ERROR VexlanClient.main mediation response is HTTP.404"},
        {"unknown-type", "mediationFailed ", "-> client:155"},
        {"badsig", "mediationFailed ", "ERROR VexlanClient.main Bad component signature"},
        {"reset", nullptr, nullptr},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.scenario);
        Sandbox sandbox;
        DemoGateway gateway(c.scenario);
        writeTrustingSettings(sandbox.home(), gateway.authority());
        RecordingNotify notify;
        VexlanClient client(&notify);
        testing::LogCapture log;
        client.setStartParameter(tessel::String::copy(startParameter(gateway)));
        client.run();
        ASSERT_TRUE(client.wait(120000));
        std::vector<std::string> events = notify.events();
        ASSERT_FALSE(events.empty());
        if (c.lastEvent) {
            EXPECT_EQ(c.lastEvent, events.back());
        } else {
            EXPECT_EQ(0u, events.back().rfind("connectionFailed Code: ", 0)) << events.back();
        }
        int failures = 0;
        for (const std::string& e : events)
            failures += e.rfind("mediationFailed", 0) == 0 || e.rfind("connectionFailed", 0) == 0;
        EXPECT_EQ(1, failures);
        if (c.logEntry) {
            bool found = false;
            for (const std::string& entry : log.entries())
                found = found || entry.find(c.logEntry) != std::string::npos;
            EXPECT_TRUE(found) << c.logEntry;
        }
        for (const std::string& e : events)
            EXPECT_NE("status 4", e);
    }
}

// Settings changed after a failed run (the settings dialog, then Retry) reach the next run.
TEST(VexlanClientTest, RetryUsesTheNewSettings) {
    Sandbox sandbox;
    DemoGateway gateway("hostchecker", {"--rounds", "1"});
    RecordingNotify notify;
    VexlanClient client(&notify);
    client.setStartParameter(tessel::String::copy(startParameter(gateway)));
    client.run();
    ASSERT_TRUE(client.wait(120000));
    ASSERT_EQ(1u, notify.events().size());
    EXPECT_EQ(0u, notify.events()[0].rfind("connectionFailed Code: 60", 0)) << notify.events()[0];
    EXPECT_EQ(0u, gateway.requests().size());

    ClientLocalConfiguration settings = client.localConfiguration();
    settings.certificateExceptions().push_back(tessel::String::copy(gateway.authority()));
    client.setLocalConfiguration(settings);
    client.run();
    ASSERT_TRUE(client.wait(120000));
    EXPECT_EQ("status 4", notify.events().back());
}

}  // namespace
}  // namespace vexlan
