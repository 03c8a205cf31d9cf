// The user interface's calls (stop, Retry, the logs action, the settings) racing with the
// client thread's run; also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "demogateway.h"
#include "sandbox.h"
#include "vexlanclient/client.h"

namespace vexlan {
namespace {

using testing::DemoGateway;
using testing::RecordingNotify;
using testing::Sandbox;
using testing::writeTrustingSettings;

std::string startParameter(const DemoGateway& gateway) {
    return "vexlan://u1@" + gateway.authority() + "/mediation";
}

// A stop that arrives while the loop waits out a long interval ends the session at once.
TEST(ClientThreadsTest, StopDuringALongWaitEndsTheSession) {
    Sandbox sandbox;
    DemoGateway gateway("hostchecker", {"--interval", "300", "--rounds", "5"});
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    VexlanClient client(&notify);
    client.setStartParameter(tessel::String::copy(startParameter(gateway)));
    client.run();
    ASSERT_TRUE(notify.waitFor("status 5"));
    ASSERT_TRUE(testing::eventually([&] { return gateway.posts() == 1; }));
    EXPECT_TRUE(client.stopSubClient());
    ASSERT_TRUE(notify.waitFor("status 4"));
    ASSERT_TRUE(client.wait(120000));
    EXPECT_EQ(1, gateway.posts());
    EXPECT_FALSE(client.hasSubClient());
}

// A stop that arrives while a check's post is under way ends the session when the post is
// answered, without waiting out the interval that would follow.
TEST(ClientThreadsTest, StopDuringAPostEndsTheSessionWithoutAWait) {
    Sandbox sandbox;
    testing::TempDir hold;
    std::string release = hold.file("release");
    DemoGateway gateway("hostchecker",
                        {"--interval", "300", "--rounds", "5", "--hold-posts", release});
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    VexlanClient client(&notify);
    client.setStartParameter(tessel::String::copy(startParameter(gateway)));
    client.run();
    // The gateway has the post and holds its answer: the client is inside the post.
    ASSERT_TRUE(testing::eventually([&] { return gateway.posts() == 1; }));
    EXPECT_TRUE(client.stopSubClient());
    testing::writeFile(release, "");
    // Well before the 300 s interval (the wait's safety deadline is 120 s).
    ASSERT_TRUE(notify.waitFor("status 4"));
    ASSERT_TRUE(client.wait(120000));
    EXPECT_EQ(1, gateway.posts());
}

// Stop, the logs action and settings changes hammer the client from another thread for the
// whole of a session: every call is safe, whatever the client thread is doing, and the run
// still ends with exactly one status 4.
TEST(ClientThreadsTest, UserInterfaceCallsRaceWithTheRun) {
    Sandbox sandbox;
    DemoGateway gateway("hostchecker", {"--rounds", "2"});
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    VexlanClient client(&notify);
    client.setStartParameter(tessel::String::copy(startParameter(gateway)));
    std::atomic<bool> done{false};
    std::atomic<int> stops{0};
    std::thread ui([&] {
        while (!done) {
            ClientLocalConfiguration settings = client.localConfiguration();
            client.setLocalConfiguration(settings);
            client.executeSubClientCommands();
            if (client.hasSubClient() && client.stopSubClient())
                ++stops;
            (void)client.gatewayAuthority();
            (void)client.isRunning();
            std::this_thread::yield();
        }
    });
    client.run();
    ASSERT_TRUE(client.wait(120000));
    done = true;
    ui.join();
    std::vector<std::string> events = notify.events();
    int over = 0;
    for (const std::string& e : events)
        over += e == "status 4";
    EXPECT_EQ(1, over);
    EXPECT_EQ("status 4", events.back());
    EXPECT_GT(stops.load(), 0);
    // Stopped as soon as it existed: at most the first check was posted.
    EXPECT_LE(gateway.posts(), 1);
}

// A run that ended by an exception keeps its sub-client so that Retry can stop it; the next
// run releases it.
TEST(ClientThreadsTest, FailedRunKeepsItsSubClientUntilTheNextRun) {
    Sandbox sandbox;
    DemoGateway gateway("badsig");
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    VexlanClient client(&notify);
    client.setStartParameter(tessel::String::copy(startParameter(gateway)));
    client.run();
    ASSERT_TRUE(client.wait(120000));
    ASSERT_EQ("mediationFailed ", notify.events().back());
    EXPECT_TRUE(client.hasSubClient());
    // Retry: stop on the kept sub-client (after its run), then a new run.
    EXPECT_TRUE(client.stopSubClient());
    client.setStartParameter("vexlan://u1@127.0.0.1:1/");
    client.run();
    ASSERT_TRUE(client.wait(120000));
    EXPECT_EQ(0u, notify.events().back().rfind("connectionFailed", 0));
    EXPECT_FALSE(client.hasSubClient());
}

// Destroying the client while a session runs stops it and waits for the thread.
TEST(ClientThreadsTest, DestructionStopsARunningSession) {
    Sandbox sandbox;
    DemoGateway gateway("hostchecker", {"--interval", "300", "--rounds", "5"});
    writeTrustingSettings(sandbox.home(), gateway.authority());
    RecordingNotify notify;
    {
        VexlanClient client(&notify);
        client.setStartParameter(tessel::String::copy(startParameter(gateway)));
        client.run();
        ASSERT_TRUE(notify.waitFor("status 5"));
    }
    EXPECT_EQ("status 4", notify.events().back());
}

}  // namespace
}  // namespace vexlan
