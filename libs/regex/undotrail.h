// The undo trail of a Matcher: every capture bound set during a match is pushed with its old
// value, so that a failed path puts back exactly what it changed. Its size follows the
// captures set along the current path, not the number of groups in the pattern.
#pragma once

#include <cstddef>
#include <memory>

namespace tessel {
namespace regex {

class UndoTrail {
public:
    UndoTrail() = default;
    UndoTrail(const UndoTrail&) = delete;
    UndoTrail& operator=(const UndoTrail&) = delete;

    // Sets `slot` to `value` and records its old value. May throw std::bad_alloc.
    void set(int& slot, int value) {
        if (m_size == m_capacity)
            grow();
        m_data[m_size++] = Entry{&slot, slot};
        slot = value;
    }
    size_t mark() const noexcept { return m_size; }
    // Puts back, newest first, every value recorded after `mark`.
    void undoTo(size_t mark) noexcept {
        while (m_size > mark) {
            --m_size;
            *m_data[m_size].slot = m_data[m_size].value;
        }
    }
    // Forgets every entry without putting anything back.
    void clear() noexcept { m_size = 0; }

private:
    struct Entry {
        int* slot;
        int value;
    };
    static constexpr size_t kInline = 32;

    void grow() {
        size_t capacity = m_capacity * 2;
        std::unique_ptr<Entry[]> bigger(new Entry[capacity]);
        for (size_t i = 0; i < m_size; ++i)
            bigger[i] = m_data[i];
        m_heap = std::move(bigger);
        m_data = m_heap.get();
        m_capacity = capacity;
    }

    Entry m_inline[kInline];
    std::unique_ptr<Entry[]> m_heap;
    Entry* m_data = m_inline;
    size_t m_size = 0;
    size_t m_capacity = kInline;
};

}  // namespace regex
}  // namespace tessel
