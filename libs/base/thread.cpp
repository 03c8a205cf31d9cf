#include "base/thread.h"

#include <cstdio>
#include <memory>

#include "base/console.h"
#include "base/synchrothread.h"
#include "base/thread_platform.h"

namespace tessel {
namespace {

// The Thread of each system thread started here (and the MainThread on the initial one).
thread_local Thread* t_currentThread = nullptr;

// What the start routine receives: its own reference to the private part, and the Thread
// whose `main` it calls.
struct StartArgument {
    gc::Pointer<ThreadPrivate> shared;
    Thread* thread;
};

}  // namespace

// ThreadPrivateBase ----------------------------------------------------------------------

ThreadPrivateBase::~ThreadPrivateBase() {
    deleteObjects();
}

void ThreadPrivateBase::setObject(uint32_t key, ThreadObject* object) {
    ThreadObject* previous = nullptr;
    {
        ScopeLock lock(m_objects);
        ThreadObject*& slot = m_objects.valueFor(key);
        previous = slot;
        slot = object;
    }
    if (previous != object)
        delete previous;
}

ThreadObject* ThreadPrivateBase::object(uint32_t key) {
    ThreadObject* found = nullptr;
    m_objects.lookup(key, found);
    return found;
}

void ThreadPrivateBase::deleteObjects() {
    // Taken out under the lock, deleted outside it: a destructor may use the table again.
    gc::Pointer<ArrayBlock<DictItem<uint32_t, ThreadObject*>>> owned;
    {
        ScopeLock lock(m_objects);
        owned = m_objects.snapshot();
        m_objects.clear();
    }
    if (!owned)
        return;
    for (uint32_t i = 0; i < owned->m_count; ++i)
        delete owned->m_items[i].value;
}

// ThreadPrivate ----------------------------------------------------------------------------

ThreadPrivate::ThreadPrivate(const String& name, bool synchronized)
    : m_name(name.copy()), m_synchronized(synchronized) {}

bool ThreadPrivate::isRunning() {
    ScopeLock lock(m_mutex);
    return m_running;
}

bool ThreadPrivate::isFinished() {
    ScopeLock lock(m_mutex);
    return m_finished;
}

uint32_t ThreadPrivate::id() {
    ScopeLock lock(m_mutex);
    return m_id;
}

bool ThreadPrivate::wait(int32_t milliseconds) {
    ScopeLock lock(m_mutex);
    if (m_running && m_id != 0 && m_id == detail::currentThreadId())
        return false;
    if (!m_running || m_finished)
        return true;
    return m_endedCondition.wait(milliseconds, m_mutex);
}

// Thread -------------------------------------------------------------------------------------

Thread::Thread(const String& name, bool synchronized)
    : m_name(name),
      m_synchronized(synchronized),
      m_private(new ThreadPrivate(name, synchronized)) {}

Thread::~Thread() {
    wait(-1);
    ThreadPrivate& shared = *m_private;
    ScopeLock lock(shared.m_mutex);
    if (shared.m_running && shared.m_id == detail::currentThreadId()) {
        // Deleted from its own main. The system thread cannot be ended safely from here; the
        // start routine holds its own reference to the private part and finishes normally
        // once main returns.
        log(2, "ThreadPrivate", "~ThreadPrivate",
            "thread " + m_name + " destroyed by its own main: it cannot be terminated");
        log(2, "ThreadPrivate", "~ThreadPrivate",
            "thread " + m_name + " detached: it ends when its main returns");
        if (t_currentThread == this)
            t_currentThread = nullptr;
    }
}

void Thread::run(bool noWait) {
    ThreadPrivate& shared = *m_private;
    ScopeLock lock(shared.m_mutex);
    if (shared.m_running)
        return;
    // The exit wait must be in place before a synchronized thread can be counted.
    if (m_synchronized)
        SynchroThread::registerExitWait();

    auto* argument = new StartArgument{m_private, this};
    uint64_t handle = 0;
    shared.m_started = false;
    if (!detail::startThread(&Thread::startRoutine, argument, &handle)) {
        delete argument;
        log(2, "Thread", "run", "unable to create the Thread");
        return;
    }
    shared.m_handle = handle;
    // Running from now on, so that a second run starts nothing and wait (or the destructor)
    // waits for this run even before the new thread reaches its first step.
    shared.m_running = true;
    shared.m_finished = false;
    if (noWait)
        return;
    while (!shared.m_started)
        shared.m_startedCondition.wait(-1, shared.m_mutex);
}

bool Thread::wait(int32_t milliseconds) {
    return m_private->wait(milliseconds);
}

bool Thread::isRunning() {
    return m_private->isRunning();
}

uint32_t Thread::id() {
    return m_private->id();
}

Thread* Thread::current() {
    return ThreadManager::instance().currentThread();
}

void Thread::startRoutine(void* raw) {
    std::unique_ptr<StartArgument> argument(static_cast<StartArgument*>(raw));
    gc::Pointer<ThreadPrivate> shared = argument->shared;
    Thread* thread = argument->thread;
    argument.reset();
    const uint32_t id = detail::currentThreadId();
    const String& name = shared->m_name;

    // Registered before the thread reports itself running, so that once run() returns the
    // thread is already counted by the exit wait and named in log lines.
    ThreadManager::instance().addCurrentThread(thread);
    if (shared->m_synchronized) {
        SynchroThread::instance().enter();
        MapThread::instance().add(id, name, thread);
    }
    {
        ScopeLock lock(shared->m_mutex);
        shared->m_running = true;
        shared->m_finished = false;
        shared->m_id = id;
        shared->m_started = true;
        shared->m_startedCondition.signalAll();
    }
    detail::setCurrentThreadName(name.c_str());

    try {
        thread->main();
    } catch (...) {
        std::fprintf(stderr, "caught an exception in main of Thread %s\n", name.c_str());
        std::fflush(stderr);
    }
    // `thread` may be gone from here on (a main may delete its own Thread).

    if (!ThreadManager::instance().removeCurrentThread()) {
        std::printf("ThreadManager::removeCurrentThread(): unable to retrieve thread %lld\n",
                    static_cast<long long>(id));
    }
    shared->deleteObjects();
    {
        ScopeLock lock(shared->m_mutex);
        shared->m_running = false;
        shared->m_finished = true;
        shared->m_id = 0;
        shared->m_handle = 0;
        if (shared->m_synchronized) {
            MapThread::instance().remove(id);
            SynchroThread::instance().leave();
        }
        shared->m_endedCondition.signalAll();
    }
}

// MainThread ---------------------------------------------------------------------------------

void MainThread::main() {
    log(2, "MainThread", "main", "NEVER CALL ME");
}

// ThreadManager ------------------------------------------------------------------------------

ThreadManager& ThreadManager::instance() {
    static ThreadManager* manager = new ThreadManager;
    return *manager;
}

ThreadManager::ThreadManager() : m_mainThread(new MainThread) {
    // Created during static initialisation, on the process's initial thread.
    t_currentThread = m_mainThread;
}

void ThreadManager::addCurrentThread(Thread* thread) {
    t_currentThread = thread;
    m_threads.set(detail::currentThreadId(), thread);
}

bool ThreadManager::removeCurrentThread() {
    t_currentThread = nullptr;
    ScopeLock lock(m_threads);
    uint32_t at = m_threads.find(detail::currentThreadId());
    if (at >= m_threads.count())
        return false;
    m_threads.erase(at);
    return true;
}

Thread* ThreadManager::currentThread() const {
    return t_currentThread;
}

Thread* ThreadManager::find(uint32_t id) {
    Thread* found = nullptr;
    m_threads.lookup(id, found);
    return found;
}

// MapThread ----------------------------------------------------------------------------------

MapThread& MapThread::instance() {
    // The process-wide handle is never released: threads still running at exit use it.
    static gc::Pointer<MapThread>* handle = new gc::Pointer<MapThread>(new MapThread);
    return **handle;
}

void MapThread::add(uint32_t id, const String& name, Thread* thread) {
    m_threads.set(id, LiveThread{name, thread});
}

void MapThread::remove(uint32_t id) {
    m_threads.eraseKey(id);
}

bool MapThread::nameOf(uint32_t id, String& name) {
    LiveThread live;
    if (!m_threads.lookup(id, live))
        return false;
    name = live.name;
    return true;
}

String currentThreadName() {
    uint32_t id = detail::currentThreadId();
    String name;
    if (MapThread::instance().nameOf(id, name))
        return name;
    return String(id);
}

namespace {

// The process-wide objects exist before the program's own code runs, in this order.
struct ProcessObjects {
    ProcessObjects() {
        ThreadManager::instance();
        MapThread::instance();
        SynchroThread::instance();
        console();
    }
} g_processObjects;

}  // namespace

uint32_t currentThreadId() {
    return detail::currentThreadId();
}

}  // namespace tessel
