// A component is loaded only as what its record names: a genuinely signed host checker of
// another version, left in the version folder by a hostile gateway, is placed again once from
// the gateway of the next run instead of being reused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file.h"
#include "demogateway.h"
#include "sandbox.h"
#include "vexlanclient/client.h"

namespace vexlan {
namespace {

using testing::DemoGateway;
using testing::RecordingNotify;
using testing::Sandbox;
using testing::writeTrustingSettings;

struct SessionRun {
    std::vector<std::string> events;
    std::vector<std::string> log;
    int componentGets;

    int logged(const std::string& fragment) const {
        int n = 0;
        for (const std::string& entry : log)
            n += entry.find(fragment) != std::string::npos;
        return n;
    }
};

// One run of a client against a gateway with `scenario`, in the current sandbox.
SessionRun session(Sandbox& sandbox, const std::string& scenario) {
    DemoGateway gateway(scenario, {"--rounds", "1"});
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    VexlanClient client(&notify);
    testing::LogCapture log;
    client.setStartParameter(
        tessel::String::copy("vexlan://u1@" + gateway.authority() + "/mediation?lang=en"));
    client.run();
    EXPECT_TRUE(client.wait(120000));
    return SessionRun{notify.events(), log.entries(), gateway.componentGets()};
}

const char kMismatch[] =
    "ERROR VexlanClient.verifyDllSignature Signed component does not match its record for ";
const char kRefetch[] = "failed its check: fetching it again";
const std::vector<std::string> kSessionOver{"sessionType 3", "status 2", "status 5", "status 4"};
const std::vector<std::string> kFailed{"sessionType 3", "status 2", "mediationFailed "};

TEST(ComponentBindingTest, CachedComponentOfAnotherVersionIsPlacedAgainOnce) {
    Sandbox sandbox;
    std::string library = sandbox.path("Vexlan/hostchecker/2.4.1/hostchecker.so");

    // The hostile gateway: its archive is fetched, placed, and refused before loading.
    SessionRun attack = session(sandbox, "attack-old-version");
    EXPECT_EQ(kFailed, attack.events);
    EXPECT_EQ(1, attack.logged(std::string(kMismatch) + library +
                               ": version \"1.0.0\" instead of \"2.4.1\""));
    EXPECT_EQ(0, attack.logged(kRefetch));  // just fetched: no second try
    ASSERT_TRUE(tessel::isFile(tessel::String::copy(library + ".sig")));

    // A hostile gateway again: the cached library fails, is placed once more and fails
    // again: no loop.
    SessionRun again = session(sandbox, "attack-old-version");
    EXPECT_EQ(kFailed, again.events);
    EXPECT_EQ(2, again.logged(kMismatch));
    EXPECT_EQ(1, again.logged(kRefetch));
    EXPECT_LE(again.componentGets, 1);

    // The organisation's gateway: the cached library is refused once, the genuine one
    // fetched, placed and used.
    SessionRun honest = session(sandbox, "hostchecker");
    EXPECT_EQ(kSessionOver, honest.events);
    EXPECT_EQ(1, honest.logged(kMismatch));
    EXPECT_EQ(1, honest.logged(kRefetch));
    EXPECT_EQ(1, honest.componentGets);

    // And reused as it is from then on.
    SessionRun next = session(sandbox, "hostchecker");
    EXPECT_EQ(kSessionOver, next.events);
    EXPECT_EQ(0, next.logged(kMismatch));
    EXPECT_EQ(0, next.componentGets);
}

}  // namespace
}  // namespace vexlan
