// String: the byte string of the whole program. Copies and slices share storage (one atomic
// increment); editing copies on write, so a String never changes what another one sees.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#include "base/gcobject.h"
#include "base/memoryblock.h"

namespace tessel {

class Buffer;
class StringAddition;

class String {
public:
    // "Not found" in searches, "up to the end" in slices.
    static constexpr uint32_t npos = 0xffffffffu;
    // The constant empty text that every empty String points at.
    static constexpr char kEmptyText[1] = {0};

    String() noexcept : m_length(0), m_string(kEmptyText) {}
    String(const String&) = default;
    String& operator=(const String&) = default;
    // Moving hands the storage over and leaves the source empty.
    String(String&& other) noexcept
        : m_length(other.m_length),
          m_storage(std::move(other.m_storage)),
          m_string(other.m_string) {
        other.m_length = 0;
        other.m_string = kEmptyText;
    }
    String& operator=(String&& other) noexcept {
        if (this != &other) {
            m_storage = std::move(other.m_storage);
            m_length = other.m_length;
            m_string = other.m_string;
            other.m_length = 0;
            other.m_string = kEmptyText;
        }
        return *this;
    }
    // A zero-terminated text, not copied: the caller's memory must outlive every String that
    // refers to it (literals do). A null pointer is a programming error.
    String(const char* text);  // NOLINT: implicit so that literals read naturally
    // The caller's bytes, not copied. The byte after the last must be readable.
    String(const char* data, uint32_t length);
    // One character, from a process-wide table: allocates nothing.
    explicit String(char c);
    // Copies the bytes of a buffer into owned storage.
    explicit String(const Buffer& buffer);
    // Number texts (as "%d", "%u", "%llu" write them) in pooled 64-byte blocks.
    explicit String(int32_t value);
    explicit String(int16_t value);
    explicit String(uint32_t value);
    explicit String(uint16_t value);
    explicit String(uint8_t value);
    explicit String(uint64_t value);
    // Concatenation result: reserves the total once, then copies every piece.
    String(const StringAddition& addition);  // NOLINT: implicit, the point of operator+

    // Copies `length` bytes into owned, zero-terminated storage.
    static String copy(const void* data, uint32_t length);
    static String copy(const std::string& text) {
        return copy(text.data(), static_cast<uint32_t>(text.size()));
    }
    // One 32-bit value with the caller's printf format, at most 255 characters.
    static String format(const char* format, uint32_t value);
    static String format(const char* format, int32_t value);
    // A wide zero-terminated text as bytes of the ANSI code page (UTF-8 on Linux).
    static String fromWide(const wchar_t* text);

    uint32_t length() const noexcept { return m_length; }
    bool isEmpty() const noexcept { return m_length == 0; }
    const char* data() const noexcept { return m_string; }
    // A zero-terminated form. May re-point this String to a terminated copy of its bytes;
    // the value stays the same and other Strings are not affected.
    const char* c_str() const;
    // The byte at `position`, or 0 at npos and beyond the end.
    char charAt(uint32_t position) const noexcept {
        return position < m_length ? m_string[position] : '\0';
    }
    char operator[](uint32_t position) const noexcept { return charAt(position); }
    std::string toStd() const { return std::string(m_string, m_length); }
    // The bytes as wide characters, through the ANSI code page.
    std::wstring toWide() const;
    // Whether this String owns (shares) pooled storage.
    bool hasStorage() const noexcept { return static_cast<bool>(m_storage); }
    const void* storageIdentity() const noexcept { return m_storage.get(); }

    // Slices: share the storage, copy nothing.
    String substring(uint32_t position, uint32_t count = npos) const;
    // The part before / after the first `c`; when `c` does not occur: the whole string, or the
    // empty string when `emptyWhenMissing`.
    String before(char c, bool emptyWhenMissing = false) const;
    String after(char c, bool emptyWhenMissing = false) const;

    uint32_t find(char c, uint32_t from = 0) const noexcept;
    uint32_t findLast(char c) const noexcept;
    uint32_t findLast(char c, uint32_t atOrBefore) const noexcept;
    uint32_t findFirstOf(const char* set, uint32_t from = 0) const noexcept;
    uint32_t findFirstOf(const char* set, uint32_t setLength, uint32_t from) const noexcept;
    // Exact search for `needle` starting in [from, bound); the match must end by `bound`.
    uint32_t find(const String& needle, uint32_t from = 0, uint32_t bound = npos) const noexcept;
    uint32_t findIgnoreCase(const String& needle, uint32_t from = 0,
                            uint32_t bound = npos) const noexcept;
    // First position in [from, bound) whose byte is not blank, tab, line feed or carriage return.
    uint32_t skipWhitespace(uint32_t from = 0, uint32_t bound = npos) const noexcept;
    // Without leading and trailing zero bytes, blanks, tabs, line feeds and carriage returns.
    String trim() const;

    bool operator==(const String& other) const noexcept {
        return m_length == other.m_length && std::memcmp(m_string, other.m_string, m_length) == 0;
    }
    bool operator==(const char* text) const noexcept;
    bool operator!=(const String& other) const noexcept { return !(*this == other); }
    bool operator!=(const char* text) const noexcept { return !(*this == text); }
    // Byte-wise order (shorter first on a common prefix), for ordered maps.
    int compare(const String& other) const noexcept;
    bool operator<(const String& other) const noexcept { return compare(other) < 0; }
    // Folds only this String's bytes (A-Z); `lower` must already be lower case.
    bool equalsIgnoreCase(const char* lower) const noexcept;
    bool equalsIgnoreCase(const String& lower) const noexcept;
    bool regionEqualsIgnoreCase(uint32_t position, const String& lower) const noexcept;
    bool startsWith(const String& prefix) const noexcept;
    bool endsWith(const String& suffix) const noexcept;
    // Folds both sides.
    bool endsWithIgnoreCase(const String& suffix) const noexcept;

    // Editing: copy on write, one reservation per call.
    String& append(const String& text) { return append(text.m_string, text.m_length); }
    String& append(const char* data, uint32_t length);
    String& append(char c) {
        // The common case of a run of appends, inline: this String alone owns storage that
        // starts at its first byte and has room for the byte and the terminator.
        // (A length is always below the largest capacity, so length + 1 does not wrap.)
        MemoryBlock* block = m_storage.get();
        uint32_t length = m_length;
        if (block && m_string == block->data() && length + 1 < block->capacity() &&
            block->refCount() <= 1) {
            char* end = block->data() + length;
            m_length = length + 1;
            end[0] = c;
            end[1] = 0;
            return *this;
        }
        return appendReserving(c);
    }
    // Appends every piece (String, zero-terminated text or char) with one reservation.
    template <class... Pieces>
    String& appendAll(const Pieces&... pieces);
    String& appendRepeat(char c, uint32_t count);
    String& operator+=(const String& text) { return append(text); }
    String& operator+=(char c) { return append(c); }
    // Grows (new bytes unspecified) or cuts.
    void setLength(uint32_t length);
    void setAt(uint32_t position, char c);
    // Room for `n` more bytes; returns where they go. The caller then adds `n` with setLength.
    char* reserveAppend(uint32_t n);

    // A String with its own storage holding the same bytes.
    String copy() const { return copy(m_string, m_length); }
    // Shares this String when it has no upper-case ASCII letter.
    String toLower() const;
    String replace(char from, char to) const;
    String remove(char c) const;
    String replace(const String& from, const String& to) const;

    // Optional sign then decimal digits up to the first non-digit; empty gives 0.
    int32_t toInt() const noexcept;
    int16_t toShort() const noexcept;
    // Hexadecimal digits up to the first other byte.
    uint32_t fromHex() const noexcept;
    long toLong() const;

private:
    friend class StringAddition;
    friend class StringAdditionBlock;
    String& appendReserving(char c);
    static uint32_t pieceLength(const String& s) noexcept { return s.m_length; }
    static uint32_t pieceLength(const char* s) noexcept {
        return static_cast<uint32_t>(std::strlen(s));
    }
    static uint32_t pieceLength(char) noexcept { return 1; }
    static char* putPiece(char* out, const String& s) noexcept {
        std::memcpy(out, s.m_string, s.m_length);
        return out + s.m_length;
    }
    static char* putPiece(char* out, const char* s) noexcept {
        uint32_t n = pieceLength(s);
        std::memcpy(out, s, n);
        return out + n;
    }
    static char* putPiece(char* out, char c) noexcept {
        *out = c;
        return out + 1;
    }
    template <class Integer>
    void adoptNumber(Integer value);
    // A slice of `storage` (which may be null).
    String(const gc::Pointer<MemoryBlock>& storage, const char* data, uint32_t length) noexcept
        : m_length(length), m_storage(storage), m_string(data) {}

    uint32_t m_length;
    mutable gc::Pointer<MemoryBlock> m_storage;
    mutable const char* m_string;
};

template <class... Pieces>
String& String::appendAll(const Pieces&... pieces) {
    uint32_t total = (0u + ... + pieceLength(pieces));
    char* out = reserveAppend(total);
    ((out = putPiece(out, pieces)), ...);
    m_length += total;
    return *this;
}

// One node of a concatenation: up to 8 pieces, then a link to the next node. Blocks are
// recycled: each thread keeps a few disposed blocks for its next concatenations, so that an
// expression usually allocates nothing but its result.
class StringAdditionBlock : public gc::ObjectDelete {
public:
    static constexpr uint32_t kSlots = 8;
    // A cleared block: one of this thread's spares, or a new one.
    static StringAdditionBlock* make();
    const char* className() const override { return "StringAdditionBlock"; }
    // Releases the pieces and the following blocks (in a loop, however long the chain), and
    // keeps the block as a spare of this thread or deletes it.
    void dispose() override;
    // While this block has a free slot the piece goes straight into it; only longer chains
    // take the walk along the following blocks.
    void add(const String& piece) {
        if (m_used < kSlots) {
            m_totalLength += piece.m_length;
            m_ownLength += piece.m_length;
            m_pieces[m_used++] = piece;
        } else {
            addToFollowing(piece);
        }
    }
    void add(String&& piece) {
        if (m_used < kSlots) {
            m_totalLength += piece.m_length;
            m_ownLength += piece.m_length;
            m_pieces[m_used++] = std::move(piece);
        } else {
            addToFollowing(std::move(piece));
        }
    }

    String m_pieces[kSlots];
    uint32_t m_used = 0;
    gc::Pointer<StringAdditionBlock> m_next;
    uint32_t m_totalLength = 0;  // this block and all that follow
    uint32_t m_ownLength = 0;

private:
    void addToFollowing(const String& piece);
    void addToFollowing(String&& piece);
};

// The value of a + b + ...: a handle to the first block. Only temporaries may be extended,
// so one expression never changes another. A piece that is a named String is shared (its
// storage counted); a temporary piece (a number, a copy, a slice) is moved in, which costs
// nothing.
class StringAddition {
public:
    template <class A, class B>
    StringAddition(A&& first, B&& second) : m_first(StringAdditionBlock::make()) {
        m_first->add(std::forward<A>(first));
        m_first->add(std::forward<B>(second));
    }
    // The first block has exactly one holder, this handle, so it is owned outright (no
    // counting); moving hands it over. Copies would let two expressions extend one chain.
    StringAddition(StringAddition&& other) noexcept : m_first(other.m_first) {
        other.m_first = nullptr;
    }
    StringAddition& operator=(StringAddition&& other) noexcept {
        std::swap(m_first, other.m_first);
        return *this;
    }
    StringAddition(const StringAddition&) = delete;
    StringAddition& operator=(const StringAddition&) = delete;
    ~StringAddition() {
        if (m_first)
            m_first->dispose();
    }

    StringAddition&& operator+(const String& piece) && {
        m_first->add(piece);
        return std::move(*this);
    }
    StringAddition&& operator+(String&& piece) && {
        m_first->add(std::move(piece));
        return std::move(*this);
    }
    StringAddition&& operator+(const char* piece) && { return std::move(*this) + String(piece); }
    StringAddition&& operator+(char piece) && { return std::move(*this) + String(piece); }
    template <class I, class = std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, char>>>
    StringAddition&& operator+(I) && = delete;  // use String(number)

    uint32_t length() const noexcept { return m_first ? m_first->m_totalLength : 0; }
    const StringAdditionBlock* first() const noexcept { return m_first; }

private:
    StringAdditionBlock* m_first;
};

inline StringAddition operator+(const String& a, const String& b) {
    return StringAddition(a, b);
}
inline StringAddition operator+(String&& a, const String& b) {
    return StringAddition(std::move(a), b);
}
inline StringAddition operator+(const String& a, String&& b) {
    return StringAddition(a, std::move(b));
}
inline StringAddition operator+(String&& a, String&& b) {
    return StringAddition(std::move(a), std::move(b));
}
inline StringAddition operator+(const String& a, const char* b) {
    return StringAddition(a, String(b));
}
inline StringAddition operator+(String&& a, const char* b) {
    return StringAddition(std::move(a), String(b));
}
inline StringAddition operator+(const char* a, const String& b) {
    return StringAddition(String(a), b);
}
inline StringAddition operator+(const char* a, String&& b) {
    return StringAddition(String(a), std::move(b));
}
inline StringAddition operator+(const String& a, char b) {
    return StringAddition(a, String(b));
}
inline StringAddition operator+(String&& a, char b) {
    return StringAddition(std::move(a), String(b));
}
inline StringAddition operator+(char a, const String& b) {
    return StringAddition(String(a), b);
}
inline StringAddition operator+(char a, String&& b) {
    return StringAddition(String(a), std::move(b));
}
template <class I, class = std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, char>>>
StringAddition operator+(const String&, I) = delete;  // use String(number)

}  // namespace tessel
