// Array<T, Mutex>: a growable array over a counted block that is copied before it is changed
// while somebody else holds it, so an iteration walks a consistent snapshot while another
// thread appends. The lock kind is a template parameter (NoMutex for one thread).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "base/exception.h"
#include "base/gcobject.h"
#include "base/mutex.h"

namespace tessel {

template <class T>
class ArrayBlock : public gc::ObjectDelete {
public:
    ArrayBlock() = default;
    ~ArrayBlock() override { freeItems(m_items); }
    ArrayBlock(const ArrayBlock&) = delete;
    ArrayBlock& operator=(const ArrayBlock&) = delete;
    const char* className() const override { return "ArrayBlock"; }

    // Room for `n` elements, with 20 % headroom when it has to grow. The existing elements
    // move into the new items. Slots past the count are default-initialised: class types are
    // default-constructed, plain values stay unset until the count reaches them (operator[]
    // gives them T(); append assigns them), which spares zero-filling every new array.
    void grow(uint32_t n) {
        if (m_capacity >= n)
            return;
        uint32_t capacity = n + n / 5;
        if constexpr (kPlain) {
            // Plain values are resized where they lie when the heap allows it: with 20 %
            // steps, copying them each time would dominate a long run of appends.
            void* items = std::realloc(m_items, size_t{capacity} * sizeof(T));
            if (!items)
                throw std::bad_alloc();
            m_items = static_cast<T*>(items);
            m_capacity = capacity;
            return;
        }
        T* items = new T[capacity];
        if constexpr (std::is_trivially_copyable_v<T>) {
            if (m_count)
                std::memcpy(static_cast<void*>(items), m_items, m_count * sizeof(T));
        } else {
            for (uint32_t i = 0; i < m_count; ++i)
                std::swap(items[i], m_items[i]);
        }
        delete[] m_items;
        m_items = items;
        m_capacity = capacity;
    }
    // A new block holding a copy of every element, with no spare room.
    ArrayBlock* clone() const { return cloneFor(m_count); }
    // The same as clone() followed by grow(n), with a single allocation.
    ArrayBlock* cloneFor(uint32_t n) const {
        std::unique_ptr<ArrayBlock> copy(new ArrayBlock);  // freed if an element copy throws
        uint32_t capacity = n > m_count ? n + n / 5 : m_count;
        if (capacity) {
            copy->m_items = newItems(capacity);
            copy->m_capacity = capacity;
            for (uint32_t i = 0; i < m_count; ++i)
                copy->m_items[i] = m_items[i];
            copy->m_count = m_count;
        }
        return copy.release();
    }

    // Plain values (trivial types) live in a malloc'd area so that growth can use realloc;
    // other types in an array made with new[].
    static constexpr bool kPlain = std::is_trivial_v<T>;
    static T* newItems(uint32_t n) {
        if constexpr (kPlain) {
            void* items = std::malloc(size_t{n} * sizeof(T));
            if (!items)
                throw std::bad_alloc();
            return static_cast<T*>(items);
        } else {
            return new T[n];
        }
    }
    static void freeItems(T* items) {
        if constexpr (kPlain)
            std::free(items);
        else
            delete[] items;
    }

    T* m_items = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
};

// A snapshot iterator: it holds the block and the count it started on, so later changes of
// the array do not reach it.
template <class T>
class ArrayIterator {
public:
    ArrayIterator() = default;
    ArrayIterator(const gc::Pointer<ArrayBlock<T>>& block, uint32_t position, uint32_t end)
        : m_block(block), m_position(position), m_end(end) {}
    static ArrayIterator endMarker() {
        ArrayIterator it;
        it.m_isEnd = true;
        return it;
    }
    T& operator*() const { return m_block->m_items[m_position]; }
    T* operator->() const { return &m_block->m_items[m_position]; }
    ArrayIterator& operator++() {
        ++m_position;
        return *this;
    }
    bool atEnd() const { return m_isEnd || m_position >= m_end; }
    bool operator==(const ArrayIterator& other) const {
        if (m_isEnd || other.m_isEnd)
            return atEnd() && other.atEnd();
        return m_position == other.m_position;
    }
    bool operator!=(const ArrayIterator& other) const { return !(*this == other); }

private:
    gc::Pointer<ArrayBlock<T>> m_block;
    uint32_t m_position = 0;
    uint32_t m_end = 0;
    bool m_isEnd = false;
};

template <class T, class MutexType = NoMutex>
class Array : public MutexType {
public:
    using Block = ArrayBlock<T>;
    using iterator = ArrayIterator<T>;

    Array() = default;
    Array(const Array& other) : MutexType() { m_block = other.snapshot(); }
    Array& operator=(const Array& other) {
        if (this != &other) {
            gc::Pointer<Block> block = other.snapshot();
            Lock lock(*this);
            m_block = block;
        }
        return *this;
    }

    uint32_t count() {
        Lock lock(*this);
        return m_block ? m_block->m_count : 0;
    }
    // Releases the block; snapshots keep theirs.
    void clear() {
        gc::Pointer<Block> old;
        Lock lock(*this);
        old = std::move(m_block);
    }
    // Appends a copy of `value`. The block is changed in place when only the array holds it;
    // when a snapshot is held elsewhere, a copy is made (outside the lock) and installed, and
    // the snapshot keeps the old contents.
    void append(const T& value) {
        // An unlocked array that holds its block alone and has room takes the value in place:
        // nothing else can see the block, so there is nothing to lock or copy.
        if constexpr (!kLocked) {
            Block* block = m_block.get();
            if (block && block->m_count < block->m_capacity && m_block.refCount() == 1) {
                block->m_items[block->m_count] = value;
                block->m_count += 1;
                return;
            }
        }
        appendSlowly(value);
    }

private:
    // NoMutex locks nothing: its arrays skip the calls altogether.
    static constexpr bool kLocked = !std::is_same_v<MutexType, NoMutex>;
    class Lock {
    public:
        explicit Lock(Array& array) : m_array(array) {
            if constexpr (kLocked)
                m_array.lock();
        }
        ~Lock() {
            if constexpr (kLocked)
                m_array.unlock();
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        Array& m_array;
    };

    // The general append: a new block, growth, or a block shared with a snapshot.
    void appendSlowly(const T& value) {
        for (;;) {
            gc::Pointer<Block> shared;
            {
                Lock lock(*this);
                if (!m_block) {
                    gc::Pointer<Block> fresh = new Block;
                    fresh->grow(1);
                    fresh->m_items[0] = value;
                    fresh->m_count = 1;
                    m_block = fresh;
                    return;
                }
                if (m_block.refCount() == 1) {
                    Block* block = m_block.get();
                    block->grow(block->m_count + 1);
                    block->m_items[block->m_count] = value;
                    block->m_count += 1;
                    return;
                }
                shared = m_block;
            }
            // Nobody changes a block that is shared, so it may be copied without the lock.
            gc::Pointer<Block> copy = shared->cloneFor(shared->m_count + 1);
            copy->m_items[copy->m_count] = value;
            copy->m_count += 1;
            Lock lock(*this);
            if (m_block == shared) {
                m_block = copy;
                return;
            }
            // Another thread changed the array meanwhile: start again on its new block, so
            // that no append is lost.
        }
    }

public:
    // The element at `position`; positions past the end grow the array with default values.
    // A block shared with a snapshot is copied first, so snapshots never see the change.
    // Raises NullException when the array has no block. The reference stays valid until the
    // array is next changed.
    T& operator[](uint32_t position) {
        gc::Pointer<Block> previous;  // released after the lock
        Lock lock(*this);
        if (!m_block)
            gc::throwNullPointer();
        if (m_block.refCount() > 1) {
            uint32_t count = m_block->m_count;
            previous = m_block;
            m_block = previous->cloneFor(position >= count ? position + 1 : count);
        }
        if (position >= m_block->m_count) {
            m_block->grow(position + 1);
            for (uint32_t i = m_block->m_count; i <= position; ++i)
                m_block->m_items[i] = T();
            m_block->m_count = position + 1;
        }
        return m_block->m_items[position];
    }
    // Copies the element at `position` into `value`; false when there is none.
    bool get(uint32_t position, T& value) {
        Lock lock(*this);
        if (!m_block || position >= m_block->m_count)
            return false;
        value = m_block->m_items[position];
        return true;
    }

    // Iteration walks the elements that existed when it began.
    iterator begin() {
        gc::Pointer<Block> block = snapshot();
        uint32_t end = block ? block->m_count : 0;
        return iterator(block, 0, end);
    }
    iterator end() { return iterator::endMarker(); }

    // The current block, held: it will not change under the holder.
    gc::Pointer<Block> snapshot() const {
        Lock lock(const_cast<Array&>(*this));
        return m_block;
    }

protected:
    gc::Pointer<Block> m_block;
};

}  // namespace tessel
