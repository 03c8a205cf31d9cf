#include "base/memoryblock.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace tessel {
namespace {

// Each slot is one word changed only by atomic exchange: no lock anywhere in the pool.
std::atomic<MemoryBlock*> g_pool[MemoryBlock::kPoolSlots];

// Blocks still idle at exit are freed so that leak checkers see a clean heap.
struct PoolDrain {
    ~PoolDrain() {
        for (auto& slot : g_pool)
            delete slot.exchange(nullptr);
    }
} g_poolDrain;

}  // namespace

MemoryBlock* MemoryBlock::obtain(uint32_t size) {
    if (size != 0 && size <= kPoolMax) {
        MemoryBlock* idle =
            g_pool[(size - 1) / kGranule].exchange(nullptr, std::memory_order_acq_rel);
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
        MemoryBlock* pushedOut =
            g_pool[m_capacity / kGranule - 1].exchange(this, std::memory_order_acq_rel);
        delete pushedOut;
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
