#include "base/mutex.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

using namespace tessel;

namespace {

// Whether another thread can take the lock right now.
bool freeForOthers(IMutex& mutex) {
    bool taken = false;
    std::thread other([&] {
        taken = mutex.tryLock();
        if (taken)
            mutex.unlock();
    });
    other.join();
    return taken;
}

}  // namespace

TEST(Mutex, RealLocksAreReentrantAndExclusive) {
    std::unique_ptr<IMutex> kinds[] = {std::make_unique<CriticalSection>(),
                                       std::make_unique<Mutex>(),
                                       std::make_unique<InternalMutex>()};
    for (auto& mutex : kinds) {
        mutex->lock();
        EXPECT_TRUE(mutex->tryLock());  // the owner may take it again
        EXPECT_FALSE(freeForOthers(*mutex));
        mutex->unlock();
        EXPECT_FALSE(freeForOthers(*mutex));  // still held once
        mutex->unlock();
        EXPECT_TRUE(freeForOthers(*mutex));
    }
}

TEST(Mutex, NativeHandles) {
    NoMutex none;
    CriticalSection section;
    Mutex mutex;
    InternalMutex internal;
    EXPECT_EQ(none.nativeHandle(), nullptr);
    EXPECT_EQ(section.nativeHandle(), nullptr);
    EXPECT_NE(mutex.nativeHandle(), nullptr);
    EXPECT_NE(internal.nativeHandle(), nullptr);
}

TEST(Mutex, NoMutexLocksNothing) {
    NoMutex none;
    none.lock();
    EXPECT_FALSE(none.tryLock());
    none.unlock();
    none.unlock();
}

TEST(Mutex, ScopeLockReleasesOnException) {
    Mutex mutex;
    try {
        ScopeLock lock(mutex);
        EXPECT_FALSE(freeForOthers(mutex));
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(freeForOthers(mutex));
}
