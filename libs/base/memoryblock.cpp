#include "base/memoryblock.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace tessel {
namespace {

// Each slot is one word changed only by atomic exchange: no lock anywhere in the pool.
std::atomic<MemoryBlock*> g_pool[MemoryBlock::kPoolSlots];

// Puts an idle block into its shared slot; the block it pushes out is freed.
void returnShared(uint32_t slot, MemoryBlock* block) {
    delete g_pool[slot].exchange(block, std::memory_order_acq_rel);
}

// In front of the shared slots, each thread keeps one idle block per slot of its own, so
// that a thread taking and returning blocks pays no atomic exchange. The cache is plain
// data (zero-initialised, usable until the thread's end); a block taken from it may be
// returned on any thread, into that thread's cache.
enum : uint8_t { kCacheUnused, kCacheInUse, kCacheClosed };
struct ThreadCache {
    MemoryBlock* slots[MemoryBlock::kPoolSlots];
    uint8_t state;
};
thread_local ThreadCache t_cache;

// Hands the calling thread's cached blocks to the shared slots; later returns on this
// thread go straight to the shared slots.
void closeCache() {
    for (uint32_t slot = 0; slot < MemoryBlock::kPoolSlots; ++slot) {
        if (MemoryBlock* block = t_cache.slots[slot]) {
            t_cache.slots[slot] = nullptr;
            returnShared(slot, block);
        }
    }
    t_cache.state = kCacheClosed;
}

// Closes the cache when its thread ends.
struct CacheCloser {
    ~CacheCloser() { closeCache(); }
};

void openCache() {
    static thread_local CacheCloser closer;
    (void)closer;
    t_cache.state = kCacheInUse;
}

// Blocks still idle at exit are freed so that leak checkers see a clean heap. The exiting
// thread's cache goes first: blocks may reach it after its thread-local objects are gone.
struct PoolDrain {
    ~PoolDrain() {
        closeCache();
        for (auto& slot : g_pool)
            delete slot.exchange(nullptr);
    }
} g_poolDrain;

}  // namespace

MemoryBlock* MemoryBlock::obtain(uint32_t size) {
    if (size != 0 && size <= kPoolMax) {
        const uint32_t slot = (size - 1) / kGranule;
        if (MemoryBlock* cached = t_cache.slots[slot]) {
            t_cache.slots[slot] = nullptr;
            return cached;
        }
        MemoryBlock* idle = g_pool[slot].exchange(nullptr, std::memory_order_acq_rel);
        if (idle)
            return idle;
    }
    return new MemoryBlock(size);
}

MemoryBlock::MemoryBlock(uint32_t size) : m_capacity(roundUp(size)) {
    if (size > kLargest)
        throw std::bad_alloc();
    m_data = static_cast<char*>(std::malloc(m_capacity));
    if (!m_data)
        throw std::bad_alloc();
}

MemoryBlock::~MemoryBlock() {
    std::free(m_data);
}

void MemoryBlock::dispose() {
    if (m_capacity >= kGranule && m_capacity < kPoolMax + kGranule && m_capacity % kGranule == 0) {
        const uint32_t slot = m_capacity / kGranule - 1;
        if (t_cache.state != kCacheInUse) {
            if (t_cache.state == kCacheClosed) {
                returnShared(slot, this);
                return;
            }
            openCache();
        }
        // The newest block waits in the cache; the one it replaces goes to the shared slot.
        MemoryBlock* older = t_cache.slots[slot];
        t_cache.slots[slot] = this;
        if (older)
            returnShared(slot, older);
        return;
    }
    delete this;
}

void MemoryBlock::grow(uint32_t size) {
    if (size <= m_capacity)
        return;
    if (size > kLargest)
        throw std::bad_alloc();
    uint32_t capacity = roundUp(size);
    char* data = static_cast<char*>(std::realloc(m_data, capacity));
    if (!data)
        throw std::bad_alloc();
    m_data = data;
    m_capacity = capacity;
}

void MemoryBlock::growForAppend(uint32_t size) {
    if (size <= m_capacity)
        return;
    uint32_t larger = m_capacity + m_capacity / 2;
    grow(larger > size && larger <= kLargest ? larger : size);
}

}  // namespace tessel
