#include "base/memoryblock.h"

#include <gtest/gtest.h>

#include <thread>

using tessel::MemoryBlock;

namespace {

// Empties the pool slot that serves `size` bytes, so that the test knows what is in it.
void drainSlot(uint32_t size) {
    MemoryBlock* block = MemoryBlock::obtain(size);
    delete block;
}

}  // namespace

TEST(MemoryBlock, CapacityIsRoundedToMultiplesOf64) {
    struct Case {
        uint32_t size;
        uint32_t capacity;
    };
    for (Case c : {Case{0, 64}, Case{1, 64}, Case{64, 64}, Case{65, 128}, Case{8192, 8192},
                   Case{8193, 8256}, Case{10000, 10048}}) {
        MemoryBlock block(c.size);
        EXPECT_EQ(block.capacity(), c.capacity) << c.size;
    }
}

TEST(MemoryBlock, GrowReallocatesToTheRoundedSizeAndNeverShrinks) {
    MemoryBlock block(10);
    block.data()[0] = 'k';
    block.grow(30);
    EXPECT_EQ(block.capacity(), 64u);
    block.grow(129);
    EXPECT_EQ(block.capacity(), 192u);
    EXPECT_EQ(block.data()[0], 'k');
    block.grow(1);
    EXPECT_EQ(block.capacity(), 192u);
}

// A text built a byte at a time: each growth takes half the capacity more (not just the next
// 64 bytes), so that 1 MiB of appends reallocates a few dozen times, not 16384 times.
TEST(MemoryBlock, GrowingForAppendsAddsHalfTheCapacity) {
    MemoryBlock block(1);
    block.growForAppend(65);
    EXPECT_EQ(block.capacity(), 128u);
    block.growForAppend(1000);  // more than half: the size asked for
    EXPECT_EQ(block.capacity(), 1024u);
    block.growForAppend(1);
    EXPECT_EQ(block.capacity(), 1024u);

    MemoryBlock text(1);
    int reallocations = 0;
    for (uint32_t length = 1; length <= 1024 * 1024; ++length) {
        uint32_t before = text.capacity();
        text.growForAppend(length + 1);
        if (text.capacity() != before)
            ++reallocations;
        EXPECT_GE(text.capacity(), length + 1);
    }
    EXPECT_LT(reallocations, 40);
}

TEST(MemoryBlock, PoolGivesBackAnIdleBlockOfTheSlot) {
    for (uint32_t size : {1u, 64u, 100u, 8191u, 8192u}) {
        drainSlot(size);
        MemoryBlock* block = MemoryBlock::obtain(size);
        uint32_t capacity = block->capacity();
        block->dispose();  // into the slot of its capacity
        MemoryBlock* again = MemoryBlock::obtain(size);
        EXPECT_EQ(again, block) << size;
        EXPECT_EQ(again->capacity(), capacity);
        EXPECT_GE(again->capacity(), size);
        delete again;
    }
}

TEST(MemoryBlock, RequestsAbove8192AlwaysAllocate) {
    drainSlot(8192);
    MemoryBlock* pooled = MemoryBlock::obtain(8192);
    pooled->dispose();
    MemoryBlock* large = MemoryBlock::obtain(8193);
    EXPECT_NE(large, pooled);
    EXPECT_EQ(large->capacity(), 8256u);
    // A block of 8256 bytes is deleted, not pooled; the 8192 slot keeps its block.
    large->dispose();
    MemoryBlock* again = MemoryBlock::obtain(8192);
    EXPECT_EQ(again, pooled);
    delete again;
}

TEST(MemoryBlock, AGrownBlockReturnsToTheSlotOfItsNewCapacity) {
    drainSlot(64);
    drainSlot(256);
    MemoryBlock* block = MemoryBlock::obtain(10);
    block->grow(200);
    block->dispose();
    EXPECT_EQ(MemoryBlock::obtain(256), block);
    MemoryBlock* small = MemoryBlock::obtain(64);
    EXPECT_NE(small, block);
    delete small;
    delete block;
}

TEST(MemoryBlock, ADisposedBlockPushesOutTheIdleOne) {
    drainSlot(128);
    MemoryBlock* first = MemoryBlock::obtain(128);
    MemoryBlock* second = MemoryBlock::obtain(128);
    first->dispose();
    second->dispose();  // takes the slot; `first` is deleted (the leak checker would see it)
    EXPECT_EQ(MemoryBlock::obtain(128), second);
    delete second;
}

namespace {

// Empties both places that may hold an idle block of `size` bytes for this thread: its own
// cache and the shared slot.
void drainSlotFully(uint32_t size) {
    drainSlot(size);
    drainSlot(size);
}

}  // namespace

TEST(MemoryBlock, ABlockTakenOnOneThreadIsReturnedOnAnother) {
    drainSlotFully(512);
    MemoryBlock* taken = nullptr;
    std::thread taker([&] { taken = MemoryBlock::obtain(512); });
    taker.join();
    taken->dispose();  // into this thread's cache
    EXPECT_EQ(MemoryBlock::obtain(512), taken);
    delete taken;
}

TEST(MemoryBlock, ABlockReturnedOnAThreadThatEndsReachesTheSharedSlot) {
    drainSlotFully(576);
    MemoryBlock* block = MemoryBlock::obtain(576);
    std::thread returner([&] { block->dispose(); });  // cached there, handed over at its end
    returner.join();
    EXPECT_EQ(MemoryBlock::obtain(576), block);
    delete block;
}

TEST(MemoryBlock, AnEndingThreadHandsItsCachedBlocksToTheSharedSlots) {
    drainSlotFully(640);
    drainSlotFully(4096);
    MemoryBlock* cached640 = nullptr;
    MemoryBlock* cached4096 = nullptr;
    std::thread worker([&] {
        MemoryBlock* first = MemoryBlock::obtain(640);
        MemoryBlock* second = MemoryBlock::obtain(640);
        MemoryBlock* large = MemoryBlock::obtain(4096);
        first->dispose();   // cached
        second->dispose();  // cached; `first` moves to the shared slot
        large->dispose();
        cached640 = second;
        cached4096 = large;
        // At the thread's end `second` pushes `first` out of the shared slot (freed).
    });
    worker.join();
    EXPECT_EQ(MemoryBlock::obtain(640), cached640);
    EXPECT_EQ(MemoryBlock::obtain(4096), cached4096);
    delete cached640;
    delete cached4096;
}
