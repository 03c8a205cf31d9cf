// Which gateways a link may reach: the compared form of an authority, the administrator's file
// and the verdict of the window program.
#include "vexlanclient/gatewaypolicy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sandbox.h"
#include "sandbox_platform.h"

using tessel::String;
using vexlan::AdministratorGateways;
using vexlan::GatewayVerdict;
using vexlan::testing::LogCapture;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

std::vector<std::string> keys(const AdministratorGateways& policy) {
    std::vector<std::string> result;
    for (const String& g : policy.gateways)
        result.push_back(g.toStd());
    return result;
}

TEST(GatewayKeyTest, HostsAndPortsAsTheyAreCompared) {
    const std::pair<const char*, const char*> cases[] = {
        {"gw.example.com", "gw.example.com"},
        {"GW.Example.COM", "gw.example.com"},      // host names have no case
        {"gw.example.com:443", "gw.example.com"},  // https's own port is no port
        {"gw.example.com:0443", "gw.example.com"},
        {"gw.example.com:8443", "gw.example.com:8443"},
        {"127.0.0.1:40001", "127.0.0.1:40001"},
        {"[::1]:8443", "[::1]:8443"},
        {"[FE80::1]", "[fe80::1]"},
        {"under_score-host.example", "under_score-host.example"},
        {"gw.example.com:65535", "gw.example.com:65535"},
        // Malformed: never matches anything.
        {"", ""},
        {"gw.example.com:", ""},
        {"gw.example.com:0", ""},
        {"gw.example.com:65536", ""},
        {"gw.example.com:123456", ""},
        {"gw.example.com:84a3", ""},
        {"gw.example.com:443:443", ""},
        {"user@gw.example.com", ""},
        {"gw.example.com/", ""},
        {"gw example.com", ""},
        {"gw.example.com%2e", ""},
        {"gw.exa\xc3\xa9mple.com", ""},
        {"[::1", ""},
        {"[::1]x", ""},
        {"[gw.example]", ""},
        {"[]", ""},
        {"::1", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, vexlan::gatewayKey(c.first).toStd()) << c.first;
    }
    EXPECT_EQ("", vexlan::gatewayKey(String(std::string(254, 'a').c_str())).toStd());
    EXPECT_EQ(std::string(253, 'a'),
              vexlan::gatewayKey(String(std::string(253, 'a').c_str())).toStd());
    EXPECT_TRUE(vexlan::sameGateway("GW.example:443", "gw.EXAMPLE"));
    EXPECT_FALSE(vexlan::sameGateway("gw.example:8443", "gw.example"));
    EXPECT_FALSE(vexlan::sameGateway("gw.example:", "gw.example:"));
}

TEST(AdministratorGatewaysTest, ParsesEntriesCommentsAndOnlyListed) {
    struct Case {
        const char* text;
        std::vector<std::string> gateways;
        bool onlyListed;
        int ignoredLines;
    };
    const Case cases[] = {
        {"", {}, false, 0},
        {"\n\n   \n\t\n", {}, false, 0},
        {"# nothing but a comment\n", {}, false, 0},
        {"gw.example.com\n", {"gw.example.com"}, false, 0},
        {"GW.example.com:443", {"gw.example.com"}, false, 0},  // no final line end
        {"  gw.example.com:8443  # the test gateway\r\n[::1]:9443\n",
         {"gw.example.com:8443", "[::1]:9443"},
         false,
         0},
        {"only-listed\n", {}, true, 0},
        {"a.example\n  only-listed  # nothing else\nb.example\n",
         {"a.example", "b.example"},
         true,
         0},
        // Garbage is logged and skipped; the rest still counts.
        {"a.example\nhttps://b.example/\nc d\nonly-listed please\n:8443\n"
         "e.example:99999\nf.example\n",
         {"a.example", "f.example"},
         false,
         5},
        // The word in another case is still the word, not a host of that name.
        {"Only-Listed\n", {}, true, 0},
        {"#only-listed\n", {}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture log;
        AdministratorGateways policy = vexlan::parseAdministratorGateways(c.text);
        EXPECT_EQ(c.gateways, keys(policy));
        EXPECT_EQ(c.onlyListed, policy.onlyListed);
        EXPECT_EQ(static_cast<size_t>(c.ignoredLines), log.entries().size());
    }
    LogCapture log;
    vexlan::parseAdministratorGateways("a.example\n\nbad host\n");
    EXPECT_TRUE(log.contains(
        "ERROR GatewayPolicy.parseAdministratorGateways line 3 is no gateway and is ignored: "
        "bad host"));
}

TEST(AdministratorGatewaysTest, ListsComparesTheWayLinksAreCompared) {
    AdministratorGateways policy =
        vexlan::parseAdministratorGateways("Gw.Example.com\nother.example:8443\n");
    EXPECT_TRUE(policy.lists("gw.example.com"));
    EXPECT_TRUE(policy.lists("GW.EXAMPLE.COM:443"));
    EXPECT_TRUE(policy.lists("other.example:8443"));
    EXPECT_FALSE(policy.lists("other.example"));
    EXPECT_FALSE(policy.lists("gw.example.com:8443"));
    EXPECT_FALSE(policy.lists("gw.example.com.evil.example"));
    EXPECT_FALSE(policy.lists("gw.example.com:"));
}

class AdministratorFileTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(AdministratorFileTest, TheFileAndWhatItsAbsenceOrDamageMeans) {
    // No file: nothing listed, nothing refused, nothing logged.
    {
        LogCapture log;
        AdministratorGateways policy =
            vexlan::readAdministratorGateways(String::copy(dir.file("missing")));
        EXPECT_FALSE(policy.onlyListed);
        EXPECT_TRUE(policy.gateways.empty());
        EXPECT_TRUE(log.entries().empty());
    }
    writeFile(dir.file("gateways"), "only-listed\ngw.example:8443\n");
    AdministratorGateways read =
        vexlan::readAdministratorGateways(String::copy(dir.file("gateways")));
    EXPECT_TRUE(read.onlyListed);
    EXPECT_EQ(std::vector<std::string>{"gw.example:8443"}, keys(read));

    // A folder, or a file too large to be a list of gateways: every gateway refused.
    std::filesystem::create_directory(dir.file("folder"));
    writeFile(dir.file("large"),
              "gw.example\n" + std::string(vexlan::kMaxAdministratorFileBytes, '#'));
    for (const char* name : {"folder", "large"}) {
        SCOPED_TRACE(name);
        LogCapture log;
        AdministratorGateways policy =
            vexlan::readAdministratorGateways(String::copy(dir.file(name)));
        EXPECT_TRUE(policy.onlyListed);
        EXPECT_TRUE(policy.gateways.empty());
        ASSERT_EQ(1u, log.entries().size());
        EXPECT_NE(std::string::npos, log.entries()[0].find("every gateway is refused"));
    }
}

TEST_F(AdministratorFileTest, TheEnvironmentNamesTheFile) {
    vexlan::testing::detail::setEnvironment("VEXLAN_GATEWAYS_FILE", nullptr);
    EXPECT_EQ(VEXLAN_GATEWAYS_FILE_BUILT_IN, vexlan::administratorGatewaysPath().toStd());
    vexlan::testing::detail::setEnvironment("VEXLAN_GATEWAYS_FILE", "");
    EXPECT_EQ(VEXLAN_GATEWAYS_FILE_BUILT_IN, vexlan::administratorGatewaysPath().toStd());
    vexlan::testing::detail::setEnvironment("VEXLAN_GATEWAYS_FILE", dir.file("gateways").c_str());
    EXPECT_EQ(dir.file("gateways"), vexlan::administratorGatewaysPath().toStd());
    vexlan::testing::detail::setEnvironment("VEXLAN_GATEWAYS_FILE", nullptr);
}

TEST(GatewayVerdictTest, AdministratorFirstThenTheUsersConfirmations) {
    tessel::List<String> confirmed("gateway");
    confirmed.push_back("confirmed.example");
    confirmed.push_back("other.example:8443");
    const AdministratorGateways none;
    const AdministratorGateways listing = vexlan::parseAdministratorGateways("listed.example\n");
    const AdministratorGateways only =
        vexlan::parseAdministratorGateways("only-listed\nlisted.example\n");
    struct Case {
        const char* authority;
        const AdministratorGateways* administrator;
        GatewayVerdict verdict;
    };
    const Case cases[] = {
        {"new.example", &none, GatewayVerdict::kAsk},
        {"confirmed.example", &none, GatewayVerdict::kAllowed},
        {"CONFIRMED.example:443", &none, GatewayVerdict::kAllowed},
        {"confirmed.example:8443", &none, GatewayVerdict::kAsk},
        {"other.example", &none, GatewayVerdict::kAsk},
        {"listed.example", &listing, GatewayVerdict::kAllowed},
        {"new.example", &listing, GatewayVerdict::kAsk},
        {"listed.example", &only, GatewayVerdict::kAllowed},
        {"confirmed.example", &only, GatewayVerdict::kRefused},
        {"new.example", &only, GatewayVerdict::kRefused},
        {"bad host", &none, GatewayVerdict::kRefused},
        {"confirmed.example:", &none, GatewayVerdict::kRefused},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.verdict, vexlan::judgeGateway(c.authority, *c.administrator, confirmed))
            << c.authority;
    }
}

TEST(GatewayTextTest, HostileBytesAreNotShown) {
    EXPECT_EQ("the gateway gw.example:8443 is not allowed on this computer",
              vexlan::gatewayNotAllowedText("gw.example:8443").toStd());
    EXPECT_EQ("a?b?c??", vexlan::displayedGateway(String("a\nb\x1b"
                                                         "c\xc3\xa9",
                                                         7))
                             .toStd());
    const std::string shown =
        vexlan::displayedGateway(String(std::string(1000, 'x').c_str())).toStd();
    EXPECT_EQ(260u, shown.size());
    EXPECT_EQ("...", shown.substr(257));
}

}  // namespace
