#include "base/condition.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using tessel::Condition;
using tessel::Mutex;
using tessel::ScopeLock;
using tessel::Semaphore;

namespace {

// A thread that waits on `condition` under `mutex` and records whether it was signalled.
// `ready` is set while the mutex is held, so once the test thread takes the mutex the
// waiter is known to be inside wait.
struct Waiter {
    Waiter(Condition& condition, Mutex& mutex, int32_t milliseconds, Semaphore* any = nullptr) {
        std::promise<void> ready;
        std::future<void> isReady = ready.get_future();
        thread = std::thread(
            [&condition, &mutex, milliseconds, any, this, ready = std::move(ready)]() mutable {
                ScopeLock lock(mutex);
                ready.set_value();
                result = condition.wait(milliseconds, mutex) ? 1 : 0;
                woke.release(1);
                if (any)
                    any->release(1);
            });
        isReady.wait();
        ScopeLock inside(mutex);  // returns once the waiter has released it in wait
    }
    ~Waiter() { thread.join(); }

    std::thread thread;
    std::atomic<int> result{-1};
    Semaphore woke;
};

}  // namespace

TEST(Semaphore, CountsReleasesAndTimesOut) {
    Semaphore semaphore;
    EXPECT_FALSE(semaphore.tryWait());
    EXPECT_FALSE(semaphore.wait(0));
    EXPECT_FALSE(semaphore.wait(20));
    EXPECT_TRUE(semaphore.release(2));  // a semaphore remembers releases
    EXPECT_TRUE(semaphore.wait(-1));
    EXPECT_TRUE(semaphore.tryWait());
    EXPECT_FALSE(semaphore.tryWait());
}

TEST(Semaphore, NeverPassesItsMaximum) {
    Semaphore semaphore(1, 2);
    EXPECT_TRUE(semaphore.release(1));
    EXPECT_FALSE(semaphore.release(1));
    EXPECT_TRUE(semaphore.tryWait());
    EXPECT_TRUE(semaphore.tryWait());
    EXPECT_FALSE(semaphore.tryWait());
}

TEST(Semaphore, ReleaseWakesBlockedWaiters) {
    Semaphore semaphore;
    std::vector<std::thread> waiters;
    std::atomic<int> woken{0};
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (semaphore.wait(-1))
                ++woken;
        });
    }
    semaphore.release(3);
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken, 3);
}

TEST(Condition, ASignalBeforeAnyWaitIsNotRemembered) {
    struct Case {
        const char* name;
        void (*signal)(Condition&);
    };
    const Case cases[] = {
        {"signal", [](Condition& c) { c.signal(); }},
        {"signalAll", [](Condition& c) { c.signalAll(); }},
        {"signal twice",
         [](Condition& c) {
             c.signal();
             c.signal();
         }},
    };
    for (const Case& c : cases) {
        Condition condition;
        Mutex mutex;
        c.signal(condition);
        ScopeLock lock(mutex);
        EXPECT_FALSE(condition.wait(30, mutex)) << c.name;
        EXPECT_FALSE(condition.wait(0, mutex)) << c.name;
    }
}

TEST(Condition, TimeOutReturnsFalseWithTheMutexHeldAgain) {
    Condition condition;
    Mutex mutex;
    ScopeLock lock(mutex);
    EXPECT_FALSE(condition.wait(10, mutex));
    bool othersCould = true;
    std::thread other([&] {
        othersCould = mutex.tryLock();
        if (othersCould)
            mutex.unlock();
    });
    other.join();
    EXPECT_FALSE(othersCould);
}

TEST(Condition, SignalWakesAWaiter) {
    Condition condition;
    Mutex mutex;
    Waiter waiter(condition, mutex, -1);
    condition.signal();
    EXPECT_TRUE(waiter.woke.wait(-1));
    EXPECT_EQ(waiter.result, 1);
}

TEST(Condition, SignalWakesOneAndSignalAllTheRest) {
    Condition condition;
    Mutex mutex;
    Semaphore anyWoke;
    Waiter first(condition, mutex, -1, &anyWoke);
    Waiter second(condition, mutex, -1, &anyWoke);
    condition.signal();
    ASSERT_TRUE(anyWoke.wait(-1));
    // Exactly one woke; the other keeps waiting for the next signal.
    EXPECT_EQ((first.result == 1) + (second.result == 1), 1);
    condition.signalAll();
    ASSERT_TRUE(anyWoke.wait(-1));
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(second.result, 1);
}

TEST(Condition, SignalAllWakesEveryWaiterButNoLaterOne) {
    Condition condition;
    Mutex mutex;
    {
        Waiter a(condition, mutex, -1);
        Waiter b(condition, mutex, -1);
        condition.signalAll();
        EXPECT_TRUE(a.woke.wait(-1));
        EXPECT_TRUE(b.woke.wait(-1));
    }
    Waiter late(condition, mutex, 30);
    EXPECT_TRUE(late.woke.wait(-1));
    EXPECT_EQ(late.result, 0);  // the earlier signal was not kept for it
}
