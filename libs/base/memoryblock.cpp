#include "base/memoryblock.h"

#include "base/memoryblock_platform.h"

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
// that a thread taking and returning blocks pays no atomic exchange. The cache is opened by
// the thread's first return and handed to the shared slots when the thread ends; a block taken
// from it may be returned on any thread, into that thread's cache.
struct ThreadCache {
    MemoryBlock* slots[MemoryBlock::kPoolSlots];
};
// Stands for a closed cache: empty, never written.
ThreadCache g_closedCache;
thread_local ThreadCache* t_cache;  // null until the thread's first return

// Hands a thread's cached blocks to the shared slots. Runs at the thread's end, when its
// thread_local variables may be gone already: it touches none.
void closeCache(void* raw) {
    auto* cache = static_cast<ThreadCache*>(raw);
    for (uint32_t slot = 0; slot < MemoryBlock::kPoolSlots; ++slot) {
        if (MemoryBlock* block = cache->slots[slot])
            returnShared(slot, block);
    }
    delete cache;
}

// Later returns on the thread go straight to the shared slots.
void markCacheClosed() {
    t_cache = &g_closedCache;
}

ThreadCache* openCache() {
    auto* cache = new ThreadCache{};
    t_cache = cache;
    detail::closeAtThreadEnd(&closeCache, cache, &markCacheClosed);
    return t_cache;
}

// Blocks still idle at exit are freed so that leak checkers see a clean heap. The exiting
// thread's cache goes first when it is still open (its thread_local objects may be gone).
struct PoolDrain {
    ~PoolDrain() {
        if (t_cache && t_cache != &g_closedCache) {
            detail::closeRegisteredNow();
            markCacheClosed();
        }
        for (auto& slot : g_pool)
            delete slot.exchange(nullptr);
    }
} g_poolDrain;

}  // namespace

MemoryBlock* MemoryBlock::obtain(uint32_t size) {
    if (size != 0 && size <= kPoolMax) {
        const uint32_t slot = (size - 1) / kGranule;
        if (ThreadCache* cache = t_cache) {
            if (MemoryBlock* cached = cache->slots[slot]) {
                cache->slots[slot] = nullptr;
                return cached;
            }
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
        ThreadCache* cache = t_cache;
        if (!cache)
            cache = openCache();
        if (cache == &g_closedCache) {
            returnShared(slot, this);
            return;
        }
        // The newest block waits in the cache; the one it replaces goes to the shared slot.
        MemoryBlock* older = cache->slots[slot];
        cache->slots[slot] = this;
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
