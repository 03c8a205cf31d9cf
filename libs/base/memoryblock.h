// Pooled heap blocks: the storage of String and Buffer. Capacities are multiples of 64 bytes;
// idle blocks of 64 to 8192 bytes wait in a lock-free pool of 128 slots, behind a small
// cache of one block per slot in each thread.
#pragma once

#include <cstdint>

#include "base/gcobject.h"

namespace tessel {

class MemoryBlock : public gc::ObjectDelete {
public:
    static constexpr uint32_t kGranule = 64;
    static constexpr uint32_t kPoolSlots = 128;
    static constexpr uint32_t kPoolMax = kGranule * kPoolSlots;  // 8192
    // The largest size a block can have (rounding up must not wrap around); larger requests
    // raise std::bad_alloc.
    static constexpr uint32_t kLargest = 0xffffffffu / kGranule * kGranule;

    // A block of at least `size` bytes: from the pool when one is idle, otherwise new.
    static MemoryBlock* obtain(uint32_t size);

    explicit MemoryBlock(uint32_t size);
    ~MemoryBlock() override;
    MemoryBlock(const MemoryBlock&) = delete;
    MemoryBlock& operator=(const MemoryBlock&) = delete;

    // Returns the block to the pool when its capacity fits a slot, else deletes it.
    void dispose() override;
    const char* className() const override { return "MemoryBlock"; }

    // Grows the area to at least `size` bytes (rounded up to 64); never shrinks.
    void grow(uint32_t size);
    // The same for a text or buffer growing at its end: at least half the capacity more, so
    // that a long run of appends copies its bytes a bounded number of times in all.
    void growForAppend(uint32_t size);

    uint32_t capacity() const noexcept { return m_capacity; }
    char* data() const noexcept { return m_data; }

    static uint32_t roundUp(uint32_t size) noexcept {
        return size == 0 ? kGranule : (size + kGranule - 1) / kGranule * kGranule;
    }

private:
    uint32_t m_capacity;
    char* m_data;
};

}  // namespace tessel
