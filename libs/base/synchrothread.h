// SynchroThread: counts the live synchronized threads so that the process, at exit, waits a
// bounded time for them and names on standard error those that did not finish.
#pragma once

#include <cstdint>

#include "base/condition.h"
#include "base/mutex.h"

namespace tessel {

class SynchroThread {
public:
    static constexpr int32_t kTimeout = 5000;  // milliseconds

    explicit SynchroThread(int32_t timeout = kTimeout);
    // Waits for the count to reach 0 and reports the survivors (see waitAtExit).
    ~SynchroThread();
    SynchroThread(const SynchroThread&) = delete;
    SynchroThread& operator=(const SynchroThread&) = delete;

    // The process-wide instance. It is never destroyed (threads still running after the exit
    // wait call leave()); its waitAtExit runs at process exit once a synchronized thread has
    // been started (registerExitWait).
    static SynchroThread& instance();
    // Arranges for instance().waitAtExit() to run at process exit; called by Thread::run
    // for a synchronized thread. The wait then runs before the destruction of the static
    // objects that existed when the first synchronized thread started.
    static void registerExitWait();

    void enter();
    // When the count drops to 0 while somebody waits in waitAll, wakes it.
    void leave();
    // Waits up to `milliseconds` (-1: for ever) for the count to reach 0. True at once when
    // it is 0; false only on time-out.
    bool waitAll(int32_t milliseconds);
    uint32_t count();
    int32_t timeout() const { return m_timeout; }

    // waitAll(timeout); on time-out writes to standard error how long it waited, how many
    // threads remain and the names of the registered synchronized threads still alive.
    void waitAtExit();

private:
    Semaphore m_semaphore;
    InternalMutex m_mutex;
    int32_t m_timeout;
    uint32_t m_count = 0;
    bool m_waiting = false;
};

}  // namespace tessel
