// Dict<K, V, Mutex>: a dictionary kept as an array of items sorted by key, with the
// copy-on-write snapshots of Array. Keys are ordered by "less than" on K.
#pragma once

#include <cstdint>
#include <utility>

#include "base/array.h"

namespace tessel {

template <class K, class V>
struct DictItem {
    K key{};
    V value{};
};

template <class Item, class MutexType = NoMutex>
class SortedArray : public Array<Item, MutexType> {
protected:
    using Block = typename Array<Item, MutexType>::Block;

    // Position of `key` by binary search in `block`, or the count when absent.
    template <class K>
    static uint32_t search(const Block* block, const K& key) {
        if (!block)
            return 0;
        uint32_t low = 0;
        uint32_t high = block->m_count;
        while (low < high) {
            uint32_t mid = low + (high - low) / 2;
            if (block->m_items[mid].key < key) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        if (low < block->m_count && !(key < block->m_items[low].key))
            return low;
        return block->m_count;
    }
    // Where `key` would be inserted to keep the order.
    template <class K>
    static uint32_t lowerBound(const Block* block, const K& key) {
        uint32_t low = 0;
        uint32_t high = block->m_count;
        while (low < high) {
            uint32_t mid = low + (high - low) / 2;
            if (block->m_items[mid].key < key) {
                low = mid + 1;
            } else {
                high = mid;
            }
        }
        return low;
    }
    // Called under the lock: a block that only the array holds, cloned (with room for
    // `room` elements) when shared. The shared block is handed to `previous`, to be released
    // after the lock.
    Block* writableBlock(uint32_t room, gc::Pointer<Block>& previous) {
        if (!this->m_block)
            this->m_block = new Block;
        // The array's own handle counts 1; anything above means a snapshot is out there.
        if (this->m_block.refCount() >= 2) {
            previous = this->m_block;
            this->m_block = previous->cloneFor(room);
        }
        return this->m_block.get();
    }
};

template <class K, class V, class MutexType = NoMutex>
class Dict : public SortedArray<DictItem<K, V>, MutexType> {
    using Base = SortedArray<DictItem<K, V>, MutexType>;
    using Block = typename Base::Block;

public:
    // Position of `key`, or the count when it is absent.
    uint32_t find(const K& key) {
        ScopeLock lock(*this);
        return Base::search(this->m_block.get(), key);
    }
    // Copies the value for `key` into `value`; false (and `value` untouched) when absent.
    bool lookup(const K& key, V& value) {
        ScopeLock lock(*this);
        const Block* block = this->m_block.get();
        uint32_t at = Base::search(block, key);
        if (!block || at >= block->m_count)
            return false;
        value = block->m_items[at].value;
        return true;
    }
    bool contains(const K& key) {
        ScopeLock lock(*this);
        const Block* block = this->m_block.get();
        return block && Base::search(block, key) < block->m_count;
    }
    // The value for `key`, inserted with a default value when absent; items stay sorted. The
    // reference is valid until the dictionary is next changed.
    V& valueFor(const K& key) {
        gc::Pointer<Block> previous;
        ScopeLock lock(*this);
        uint32_t count = this->m_block ? this->m_block->m_count : 0;
        Block* block = this->writableBlock(count + 1, previous);
        uint32_t at = Base::search(block, key);
        if (at < block->m_count)
            return block->m_items[at].value;
        at = Base::lowerBound(block, key);
        block->grow(block->m_count + 1);
        // Move the tail up by one slot, then put the new item in the gap.
        for (uint32_t i = block->m_count; i > at; --i) {
            std::swap(block->m_items[i], block->m_items[i - 1]);
        }
        block->m_items[at] = DictItem<K, V>{key, V()};
        block->m_count += 1;
        return block->m_items[at].value;
    }
    V& operator[](const K& key) { return valueFor(key); }
    // Sets the value for `key` (inserting it when absent), all under the lock; for arrays
    // that several threads change, where the reference valueFor returns is not enough.
    void set(const K& key, const V& value) {
        ScopeLock lock(*this);
        valueFor(key) = value;
    }
    // Removes the item at `position`; a block left empty is released.
    void erase(uint32_t position) {
        gc::Pointer<Block> previous;
        gc::Pointer<Block> released;
        ScopeLock lock(*this);
        if (!this->m_block || position >= this->m_block->m_count)
            return;
        Block* block = this->writableBlock(this->m_block->m_count, previous);
        for (uint32_t i = position; i + 1 < block->m_count; ++i) {
            std::swap(block->m_items[i], block->m_items[i + 1]);
        }
        block->m_items[block->m_count - 1] = DictItem<K, V>();
        block->m_count -= 1;
        if (block->m_count == 0)
            released = std::move(this->m_block);
    }
    bool eraseKey(const K& key) {
        ScopeLock lock(*this);
        uint32_t at = Base::search(this->m_block.get(), key);
        if (!this->m_block || at >= this->m_block->m_count)
            return false;
        erase(at);
        return true;
    }
};

}  // namespace tessel
