#include "base/synchrothread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"
#include "base/thread.h"

namespace tessel {

SynchroThread::SynchroThread(int32_t timeout) : m_timeout(timeout) {}

SynchroThread::~SynchroThread() {
    waitAtExit();
}

SynchroThread& SynchroThread::instance() {
    static SynchroThread* synchro = new SynchroThread;
    return *synchro;
}

void SynchroThread::registerExitWait() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit([] { instance().waitAtExit(); }); });
}

void SynchroThread::enter() {
    ScopeLock lock(m_mutex);
    ++m_count;
}

void SynchroThread::leave() {
    ScopeLock lock(m_mutex);
    if (m_count == 0)
        return;
    if (--m_count == 0 && m_waiting)
        m_semaphore.release(1);
}

uint32_t SynchroThread::count() {
    ScopeLock lock(m_mutex);
    return m_count;
}

bool SynchroThread::waitAll(int32_t milliseconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    try {
        ScopeLock lock(m_mutex);
        // The count decides, not the wake-up: a unit left in the semaphore by an earlier
        // wait that timed out must not end this one early.
        while (m_count != 0) {
            int32_t left = -1;
            if (milliseconds >= 0) {
                auto spent =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                        .count();
                left = spent >= milliseconds ? 0 : milliseconds - static_cast<int32_t>(spent);
            }
            m_waiting = true;
            m_mutex.unlock();
            // The semaphore counts, so a leave() between the unlock and the wait is not lost.
            bool woken = m_semaphore.wait(left);
            m_mutex.lock();
            m_waiting = false;
            if (!woken)
                return m_count == 0;
        }
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH_AT(e, fixed::kSynchroThreadWait);
        return count() == 0;
    }
    return true;
}

void SynchroThread::waitAtExit() {
    try {
        if (waitAll(m_timeout))
            return;
        std::fprintf(stderr,
                     "SynchroThread::~SynchroThread\tcannot wait for all threads termination "
                     "for: %ds\n",
                     static_cast<int>(m_timeout / 1000));
        std::fprintf(stderr, "got %d remaining threads\nSurvivors:\n", static_cast<int>(count()));
        auto survivors = MapThread::instance().snapshot();
        if (survivors) {
            for (uint32_t i = 0; i < survivors->m_count; ++i) {
                const String& name = survivors->m_items[i].value.name;
                std::fprintf(stderr, " * %.*s\n", static_cast<int>(name.length()), name.data());
            }
        }
        std::fflush(stderr);
    } catch (const Exception&) {
        std::fprintf(stderr, "execption caught during SynchroThread::~SynchroThread()\n");
    }
}

}  // namespace tessel
