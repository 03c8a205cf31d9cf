#include "base/condition.h"

#include <chrono>
#include <thread>

namespace tessel {
namespace {

using Clock = std::chrono::steady_clock;

// What is left of a wait that began with `milliseconds` at `start` (-1 stays for ever).
int32_t remaining(int32_t milliseconds, Clock::time_point start) {
    if (milliseconds < 0)
        return -1;
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return spent.count() >= milliseconds ? 0 : milliseconds - static_cast<int32_t>(spent.count());
}

}  // namespace

Semaphore::Semaphore(uint32_t initial, uint32_t maximum)
    : m_count(initial < maximum ? initial : maximum), m_maximum(maximum) {}

bool Semaphore::release(uint32_t count) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (count > m_maximum - m_count)
            return false;
        m_count += count;
    }
    if (count == 1) {
        m_available.notify_one();
    } else if (count > 1) {
        m_available.notify_all();
    }
    return true;
}

bool Semaphore::wait(int32_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto available = [this] { return m_count > 0; };
    if (milliseconds < 0) {
        m_available.wait(lock, available);
    } else if (!m_available.wait_for(lock, std::chrono::milliseconds(milliseconds), available)) {
        return false;
    }
    --m_count;
    return true;
}

bool Semaphore::tryWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_count == 0)
        return false;
    --m_count;
    return true;
}

bool Condition::wait(int32_t milliseconds, IMutex& mutex) {
    uint32_t generation;
    {
        ScopeLock lock(m_lock);
        ++m_waiters;
        generation = m_generation;
    }
    mutex.unlock();

    const Clock::time_point start = Clock::now();
    bool signalled = false;
    for (;;) {
        bool woken = m_semaphore.wait(remaining(milliseconds, start));
        m_lock.lock();
        if (m_granted > 0 && m_generation != generation) {
            // A signal given since this wait began: take it. (After a time-out its unit
            // stays in the semaphore; whoever takes it later finds no wake-up and goes on.)
            --m_granted;
            signalled = true;
            break;
        }
        if (!woken)
            break;  // time-out, nothing for this wait
        // A wake-up meant for a wait older than this one is handed back for that waiter; a
        // unit left over by a timed-out wait is simply used up.
        bool handBack = m_granted > 0;
        m_lock.unlock();
        if (handBack) {
            m_semaphore.release(1);
            if (remaining(milliseconds, start) == 0) {  // time is up all the same
                m_lock.lock();
                break;
            }
            std::this_thread::yield();
        }
    }
    --m_waiters;
    m_lock.unlock();
    mutex.lock();
    return signalled;
}

void Condition::signal() {
    bool wake = false;
    {
        ScopeLock lock(m_lock);
        if (m_granted < m_waiters) {
            ++m_granted;
            ++m_generation;
            wake = true;
        }
    }
    if (wake)
        m_semaphore.release(1);
}

void Condition::signalAll() {
    uint32_t wake = 0;
    {
        ScopeLock lock(m_lock);
        if (m_granted < m_waiters) {
            wake = m_waiters - m_granted;
            m_granted = m_waiters;
            ++m_generation;
        }
    }
    if (wake)
        m_semaphore.release(wake);
}

}  // namespace tessel
