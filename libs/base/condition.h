// A counting semaphore with timed waits, and the condition variable built on it. Both are
// portable C++; a signal given while nobody waits is not remembered by a Condition.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/mutex.h"

namespace tessel {

// A counting semaphore: release adds units, wait takes one (blocking while there is none).
// Safe to use from any thread.
class Semaphore {
public:
    static constexpr uint32_t kMaxCount = 0x7fffffff;

    explicit Semaphore(uint32_t initial = 0, uint32_t maximum = kMaxCount);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds `count` units and wakes as many waiters. Adds nothing and returns false when the
    // count would pass the maximum.
    bool release(uint32_t count = 1);
    // Takes one unit, waiting up to `milliseconds` (-1: for ever). False on time-out.
    bool wait(int32_t milliseconds);
    // Takes one unit when one is there, without waiting.
    bool tryWait();

private:
    std::mutex m_mutex;
    std::condition_variable m_available;
    uint32_t m_count;
    uint32_t m_maximum;
};

// A condition variable over one Semaphore. A waiter holds its own lock (any IMutex) while it
// calls wait, which releases that lock while waiting and takes it again before returning.
// signal wakes one thread that was already waiting, signalAll every one of them; when
// nobody waits, a signal is lost: a later wait blocks until the next signal. There are no
// spurious wake-ups: wait returns true only when a signal was given for it.
class Condition {
public:
    Condition() = default;
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // Waits up to `milliseconds` (-1: for ever); `mutex` must be held (once) by the caller.
    // Returns whether a signal woke it (false on time-out). The mutex is held again on return.
    bool wait(int32_t milliseconds, IMutex& mutex);
    void signal();
    void signalAll();

private:
    CriticalSection m_lock;
    Semaphore m_semaphore;
    uint32_t m_waiters = 0;
    uint32_t m_granted = 0;  // wake-ups given and not yet taken
    uint32_t m_generation = 0;
};

}  // namespace tessel
