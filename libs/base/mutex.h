// Four interchangeable lock kinds behind IMutex, so that containers and objects choose their
// locking by type: NoMutex costs nothing, the others are re-entrant for their owner.
#pragma once

#include <mutex>

namespace tessel {

class IMutex {
public:
    virtual ~IMutex() = default;
    virtual void lock() = 0;
    virtual bool tryLock() = 0;
    virtual void unlock() = 0;
    // A handle that a waiter may release and wait on in one atomic step, or null.
    virtual void* nativeHandle() = 0;
};

// Locks nothing; tryLock reports false. For objects used by one thread.
class NoMutex : public IMutex {
public:
    void lock() override {}
    bool tryLock() override { return false; }
    void unlock() override {}
    void* nativeHandle() override { return nullptr; }
};

// A re-entrant lock without a native handle.
class CriticalSection : public IMutex {
public:
    void lock() override { m_mutex.lock(); }
    bool tryLock() override { return m_mutex.try_lock(); }
    void unlock() override { m_mutex.unlock(); }
    void* nativeHandle() override { return nullptr; }

private:
    std::recursive_mutex m_mutex;
};

// The re-entrant lock for users of the library.
class Mutex : public IMutex {
public:
    void lock() override { m_mutex.lock(); }
    bool tryLock() override { return m_mutex.try_lock(); }
    void unlock() override { m_mutex.unlock(); }
    void* nativeHandle() override { return &m_mutex; }

private:
    std::recursive_mutex m_mutex;
};

// The lock kind used inside the base library's own containers; behaves as Mutex.
class InternalMutex : public Mutex {};

// Holds a lock for its scope and releases it on every way out, exceptions included.
class ScopeLock {
public:
    explicit ScopeLock(IMutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~ScopeLock() { m_mutex.unlock(); }
    ScopeLock(const ScopeLock&) = delete;
    ScopeLock& operator=(const ScopeLock&) = delete;

private:
    IMutex& m_mutex;
};

}  // namespace tessel
