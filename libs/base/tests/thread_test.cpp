#include "base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/console.h"
#include "base/exception.h"
#include "base/synchrothread.h"
#include "base/thread.h"
#include "sandbox.h"

using tessel::MapThread;
using tessel::Semaphore;
using tessel::String;
using tessel::SynchroThread;
using tessel::Thread;
using tessel::ThreadManager;
using tessel::ThreadPrivate;
using tessel::gc::Pointer;
using vexlan::testing::LogCapture;

namespace {

// A thread whose main runs a function given at construction.
class BodyThread : public Thread {
public:
    BodyThread(const String& name, bool synchronized, std::function<void(Thread&)> body)
        : Thread(name, synchronized), m_body(std::move(body)) {}
    // The body belongs to this class: the thread must end before it goes.
    ~BodyThread() override { wait(-1); }
    void main() override {
        ++runs;
        m_body(*this);
    }
    std::atomic<int> runs{0};

private:
    std::function<void(Thread&)> m_body;
};

// A thread that deletes itself from its own main.
class SelfDeleting : public Thread {
public:
    SelfDeleting() : Thread("SelfDelete", true) {}
    ~SelfDeleting() override { wait(-1); }
    void main() override { delete this; }
};

struct Tracked : tessel::ThreadObject {
    explicit Tracked(std::atomic<int>* counter) : deaths(counter) {}
    ~Tracked() override { ++*deaths; }
    std::atomic<int>* deaths;
};

}  // namespace

TEST(Thread, NeverStartedThread) {
    BodyThread thread("Idle", false, [](Thread&) {});
    EXPECT_FALSE(thread.isRunning());
    EXPECT_TRUE(thread.wait(-1));
    EXPECT_TRUE(thread.wait(0));
    EXPECT_EQ(thread.id(), 0u);
    EXPECT_EQ(thread.name(), "Idle");
    EXPECT_EQ(thread.runs, 0);
}

TEST(Thread, RunWaitsUntilTheThreadRunsAndWaitForItsEnd) {
    Semaphore gate;
    BodyThread thread("Worker", false, [&](Thread&) { gate.wait(-1); });
    thread.run();
    EXPECT_TRUE(thread.isRunning());
    EXPECT_NE(thread.id(), 0u);
    EXPECT_FALSE(thread.wait(0));  // still blocked: the wait times out
    gate.release(1);
    EXPECT_TRUE(thread.wait(-1));
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ(thread.id(), 0u);
    EXPECT_TRUE(thread.wait(-1));  // finished: at once
    EXPECT_EQ(thread.runs, 1);
}

TEST(Thread, RunOnARunningThreadDoesNothingAndDoesNotWait) {
    Semaphore gate;
    BodyThread thread("Once", false, [&](Thread&) { gate.wait(-1); });
    thread.run();
    thread.run(false);  // would never return if it waited for another start
    thread.run(true);
    gate.release(1);
    EXPECT_TRUE(thread.wait(-1));
    EXPECT_EQ(thread.runs, 1);
}

TEST(Thread, RunWithoutWaitingStillCountsAsRunning) {
    Semaphore gate;
    BodyThread thread("NoWait", false, [&](Thread&) { gate.wait(-1); });
    thread.run(true);
    EXPECT_TRUE(thread.isRunning());  // at once, even before the new thread is scheduled
    thread.run(true);                 // so a second run starts nothing
    EXPECT_FALSE(thread.wait(0));
    gate.release(1);
    EXPECT_TRUE(thread.wait(-1));
    EXPECT_EQ(thread.runs, 1);
}

TEST(Thread, RunsAgainAfterFinishing) {
    BodyThread thread("Again", false, [](Thread&) {});
    for (int i = 1; i <= 3; ++i) {
        thread.run();
        EXPECT_TRUE(thread.wait(-1));
        EXPECT_EQ(thread.runs, i);
    }
}

TEST(Thread, WaitOnItselfReturnsFalseAtOnce) {
    std::atomic<int> result{-1};
    BodyThread thread("Self", false, [&](Thread& self) { result = self.wait(-1) ? 1 : 0; });
    thread.run();
    EXPECT_TRUE(thread.wait(-1));
    EXPECT_EQ(result, 0);
}

TEST(Thread, KnowsTheCurrentThread) {
    Thread* seen = nullptr;
    Thread* found = nullptr;
    BodyThread thread("Current", false, [&](Thread& self) {
        seen = Thread::current();
        found = ThreadManager::instance().find(tessel::currentThreadId());
        (void)self;
    });
    thread.run();
    thread.wait(-1);
    EXPECT_EQ(seen, &thread);
    EXPECT_EQ(found, &thread);
    Thread* initial = Thread::current();
    ASSERT_NE(initial, nullptr);
    EXPECT_EQ(initial, &ThreadManager::instance().mainThread());
    EXPECT_EQ(initial->name(), "MainThread");
    EXPECT_TRUE(initial->isSynchronized());
}

TEST(Thread, MainThreadMainOnlyLogsTheMistake) {
    LogCapture capture;
    ThreadManager::instance().mainThread().main();
    EXPECT_TRUE(capture.contains("ERROR MainThread.main NEVER CALL ME"));
}

TEST(Thread, SynchronizedThreadIsRegisteredWhileItRuns) {
    Semaphore gate;
    String nameInside;
    BodyThread thread("Registered", true, [&](Thread&) {
        nameInside = tessel::currentThreadName();
        gate.wait(-1);
    });
    const uint32_t before = SynchroThread::instance().count();
    thread.run();
    String name;
    EXPECT_TRUE(MapThread::instance().nameOf(thread.id(), name));
    EXPECT_EQ(name, "Registered");
    EXPECT_EQ(SynchroThread::instance().count(), before + 1);
    const uint32_t id = thread.id();
    gate.release(1);
    ASSERT_TRUE(thread.wait(-1));
    EXPECT_EQ(nameInside, "Registered");
    EXPECT_FALSE(MapThread::instance().nameOf(id, name));
    EXPECT_EQ(SynchroThread::instance().count(), before);
    EXPECT_EQ(ThreadManager::instance().find(id), nullptr);
}

TEST(Thread, UnsynchronizedThreadIsNeitherRegisteredNorCounted) {
    Semaphore gate;
    BodyThread thread("Plain", false, [&](Thread&) { gate.wait(-1); });
    const uint32_t before = SynchroThread::instance().count();
    thread.run();
    String name;
    EXPECT_FALSE(MapThread::instance().nameOf(thread.id(), name));
    EXPECT_EQ(SynchroThread::instance().count(), before);
    gate.release(1);
    thread.wait(-1);
}

TEST(Thread, LogLinesCarryTheNameOrTheNumericId) {
    LogCapture capture;
    std::atomic<uint32_t> plainId{0};
    BodyThread named("Named", true,
                     [](Thread&) { tessel::log(1, "Cls", "method", "from a named thread"); });
    BodyThread plain("Plain", false, [&](Thread&) {
        plainId = tessel::currentThreadId();
        tessel::log(1, "Cls", "method", "from a plain thread");
    });
    named.run();
    named.wait(-1);
    plain.run();
    plain.wait(-1);
    std::vector<std::string> lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[Named] DEBUG Cls.method from a named thread");
    EXPECT_EQ(lines[1], "[" + std::to_string(plainId) + "] DEBUG Cls.method from a plain thread");
}

TEST(Thread, ManyThreadsLogConcurrently) {
    LogCapture capture;
    const int threads = 4;
    const int lines = 50;
    std::vector<std::unique_ptr<BodyThread>> workers;
    for (int t = 0; t < threads; ++t) {
        String name = "W" + String(static_cast<int32_t>(t));
        workers.push_back(std::make_unique<BodyThread>(name, true, [lines](Thread& self) {
            for (int i = 0; i < lines; ++i)
                tessel::log(0, "Worker", self.name(), "line");
        }));
    }
    for (auto& w : workers)
        w->run(true);
    for (auto& w : workers)
        EXPECT_TRUE(w->wait(-1));
    std::vector<std::string> all = capture.lines();
    ASSERT_EQ(all.size(), static_cast<size_t>(threads * lines));
    for (const std::string& line : all) {
        // "[Wn] TRACE Worker.Wn line": the bracketed name is the logging thread's.
        ASSERT_EQ(line.substr(0, 2), "[W") << line;
        std::string name = line.substr(1, line.find(']') - 1);
        EXPECT_EQ(line, "[" + name + "] TRACE Worker." + name + " line");
    }
}

TEST(Thread, AnExceptionLeavingMainIsReportedAndTheThreadEndsNormally) {
    BodyThread thrower("Thrower", true, [](Thread&) { throw tessel::EFile("EFile", "file", 326); });
    BodyThread other("Other", false, [](Thread&) { throw 42; });
    const uint32_t before = SynchroThread::instance().count();
    testing::internal::CaptureStderr();
    thrower.run();
    EXPECT_TRUE(thrower.wait(-1));
    other.run();
    EXPECT_TRUE(other.wait(-1));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "caught an exception in main of Thread Thrower\n"
              "caught an exception in main of Thread Other\n");
    EXPECT_FALSE(thrower.isRunning());
    EXPECT_EQ(SynchroThread::instance().count(), before);
}

TEST(Thread, OwnedObjectsAreDeletedWhenMainReturns) {
    std::atomic<int> deaths{0};
    std::atomic<bool> visible{false};
    BodyThread thread("Owner", false, [&](Thread& self) {
        Pointer<ThreadPrivate> shared = self.privatePart();
        shared->setObject(1, new Tracked(&deaths));
        shared->setObject(2, new Tracked(&deaths));
        shared->setObject(2, new Tracked(&deaths));  // replaces (and deletes) the previous
        visible = shared->object(1) != nullptr && deaths == 1;
    });
    thread.run();
    thread.wait(-1);
    EXPECT_TRUE(visible);
    EXPECT_EQ(deaths, 3);
    EXPECT_EQ(thread.privatePart()->object(1), nullptr);
}

TEST(Thread, DeletedFromItsOwnMainIsLeftToFinish) {
    LogCapture capture;
    auto* thread = new SelfDeleting;
    Pointer<ThreadPrivate> shared = thread->privatePart();
    const uint32_t before = SynchroThread::instance().count();
    thread->run();
    // The Thread is gone; its shared part still tells when the system thread is done.
    EXPECT_TRUE(shared->wait(-1));
    EXPECT_TRUE(shared->isFinished());
    EXPECT_FALSE(shared->isRunning());
    EXPECT_EQ(SynchroThread::instance().count(), before);
    EXPECT_TRUE(
        capture.contains("ERROR ThreadPrivate.~ThreadPrivate thread SelfDelete "
                         "destroyed by its own main: it cannot be terminated"));
    EXPECT_TRUE(
        capture.contains("ERROR ThreadPrivate.~ThreadPrivate thread SelfDelete "
                         "detached: it ends when its main returns"));
}

namespace {

// At its thread's end, records the value that another thread_local variable of the same
// thread holds then.
thread_local int t_mark = 0;
struct MarkReader {
    int* seen = nullptr;
    ~MarkReader() {
        if (seen)
            *seen = t_mark;
    }
};

void markAndArrangeReading(int* seen) {
    t_mark = 7;
    static thread_local MarkReader reader;
    reader.seen = seen;
}

#ifdef _WIN32
DWORD WINAPI markingThread(LPVOID seen) {
    markAndArrangeReading(static_cast<int*>(seen));
    return 0;
}
#endif

}  // namespace

// The caches of the libraries hand their contents back from thread_local destructors that read
// the thread's other thread_local variables: those must still be there.
TEST(Thread, ThreadLocalDestructorsSeeTheThreadsOtherVariables) {
    int seen = -1;
    std::thread worker([&seen] { markAndArrangeReading(&seen); });
    worker.join();
    EXPECT_EQ(seen, 7);
#ifdef _WIN32
    // A thread that the system started directly, not through the C++ runtime.
    seen = -1;
    HANDLE thread = CreateThread(nullptr, 0, &markingThread, &seen, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(seen, 7);
#endif
}
