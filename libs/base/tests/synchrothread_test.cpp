#include "base/synchrothread.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

using tessel::SynchroThread;

namespace {

#ifndef _WIN32
// The exit helper is run through a POSIX shell.
struct ChildResult {
    int status = -1;
    std::string err;
};

// Runs the exit helper in `mode` and collects its standard error.
ChildResult runHelper(const std::string& mode) {
    ChildResult result;
    std::string command = std::string(VEXLAN_THREAD_EXIT_HELPER) + " " + mode + " 2>&1 >/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        result.err.append(chunk, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

#endif  // _WIN32

}  // namespace

TEST(SynchroThread, WaitAllReturnsAtOnceWhenNobodyIsCounted) {
    SynchroThread synchro;
    EXPECT_TRUE(synchro.waitAll(0));
    EXPECT_TRUE(synchro.waitAll(-1));
    EXPECT_EQ(synchro.timeout(), 5000);
}

TEST(SynchroThread, WaitAllTimesOutWhileAThreadIsCounted) {
    SynchroThread synchro;
    synchro.enter();
    EXPECT_EQ(synchro.count(), 1u);
    EXPECT_FALSE(synchro.waitAll(0));
    EXPECT_FALSE(synchro.waitAll(20));
    synchro.leave();
    EXPECT_EQ(synchro.count(), 0u);
    EXPECT_TRUE(synchro.waitAll(0));
}

TEST(SynchroThread, LeaveOfTheLastThreadEndsTheWait) {
    SynchroThread synchro;
    synchro.enter();
    synchro.enter();
    std::thread leaver([&] {
        synchro.leave();
        synchro.leave();
    });
    EXPECT_TRUE(synchro.waitAll(-1));
    leaver.join();
    EXPECT_EQ(synchro.count(), 0u);
    synchro.leave();  // never below 0
    EXPECT_EQ(synchro.count(), 0u);
}

#ifndef _WIN32
// The exit helper is run through a POSIX shell.
TEST(SynchroThread, ExitReportNamesTheSurvivorAndTheProcessStillEnds) {
    ChildResult child = runHelper("survivor");
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.err,
              "SynchroThread::~SynchroThread\tcannot wait for all threads termination for: 5s\n"
              "got 1 remaining threads\n"
              "Survivors:\n"
              " * Survivor\n");
}

TEST(SynchroThread, NoReportWhenTheThreadsFinishInTime) {
    ChildResult child = runHelper("finishing");
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.err, "");
}

TEST(SynchroThread, UnsynchronizedThreadsAreNotWaitedFor) {
    ChildResult child = runHelper("unsynchronized");
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.err, "");
}
#endif  // _WIN32
