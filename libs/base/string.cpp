#include "base/string.h"

#include <cassert>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "base/buffer.h"
#include "base/string_platform.h"

namespace tessel {
namespace {

const char* const kEmpty = String::kEmptyText;

// Every byte followed by a zero byte: String(char) points here.
struct CharTable {
    char entries[256][2];
    constexpr CharTable() : entries() {
        for (int i = 0; i < 256; ++i) {
            entries[i][0] = static_cast<char>(i);
            entries[i][1] = 0;
        }
    }
};
constexpr CharTable kCharTable;

bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
char foldAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

String::String(const char* text) : m_length(0), m_string(text) {
    assert(m_string && "libs/base/string: null text");
    if (!m_string)
        m_string = kEmpty;
    m_length = static_cast<uint32_t>(std::strlen(m_string));
}

String::String(const char* data, uint32_t length) : m_length(length), m_string(data) {
    assert(m_string && "libs/base/string: null text");
    if (!m_string) {
        m_string = kEmpty;
        m_length = 0;
    }
}

String::String(char c) : m_length(1), m_string(kCharTable.entries[static_cast<unsigned char>(c)]) {}

String::String(const Buffer& buffer) : String() {
    if (!buffer.isEmpty())
        *this = copy(buffer.data(), buffer.length());
}

String::String(int32_t value) : String() {
    adoptNumber(value);
}
String::String(int16_t value) : String() {
    adoptNumber(value);
}
String::String(uint32_t value) : String() {
    adoptNumber(value);
}
String::String(uint16_t value) : String() {
    adoptNumber(value);
}
String::String(uint8_t value) : String() {
    adoptNumber(value);
}
String::String(uint64_t value) : String() {
    adoptNumber(value);
}

template <class Integer>
void String::adoptNumber(Integer value) {
    // 64 bytes hold the text of any 64-bit value with its sign. std::to_chars writes exactly
    // what "%d", "%u" and "%llu" write, without parsing a format.
    MemoryBlock* block = MemoryBlock::obtain(64);
    m_storage = block;
    std::to_chars_result end = std::to_chars(block->data(), block->data() + 63, value);
    *end.ptr = 0;
    m_string = block->data();
    m_length = static_cast<uint32_t>(end.ptr - block->data());
}

// The caller chooses the format: that is the purpose of these two operations.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
namespace {

// The caller's format into a pooled 256-byte block: at most 255 characters.
template <class Value>
void formatInto256(const char* format, Value value, gc::Pointer<MemoryBlock>& storage,
                   const char*& text, uint32_t& length) {
    MemoryBlock* block = MemoryBlock::obtain(256);
    storage = block;
    int written = std::snprintf(block->data(), 256, format, value);
    text = block->data();
    length = written < 0 ? 0 : (written > 255 ? 255 : static_cast<uint32_t>(written));
    if (written < 0)
        block->data()[0] = 0;
}

}  // namespace

String String::format(const char* format, uint32_t value) {
    String result;
    formatInto256(format, value, result.m_storage, result.m_string, result.m_length);
    return result;
}

String String::format(const char* format, int32_t value) {
    String result;
    formatInto256(format, static_cast<int>(value), result.m_storage, result.m_string,
                  result.m_length);
    return result;
}
#pragma GCC diagnostic pop

String::String(const StringAddition& addition) : String() {
    uint32_t total = addition.length();
    if (total == 0)
        return;
    char* out = reserveAppend(total);
    for (const StringAdditionBlock* block = addition.first(); block; block = block->m_next.get()) {
        for (uint32_t i = 0; i < block->m_used; ++i)
            out = putPiece(out, block->m_pieces[i]);
    }
    m_length = total;
}

String String::copy(const void* data, uint32_t length) {
    String result;
    if (length == 0)
        return result;
    MemoryBlock* block = MemoryBlock::obtain(length + 1);
    result.m_storage = block;
    std::memcpy(block->data(), data, length);
    block->data()[length] = 0;
    result.m_string = block->data();
    result.m_length = length;
    return result;
}

String String::fromWide(const wchar_t* text) {
    return copy(detail::wideToAnsi(text));
}

std::wstring String::toWide() const {
    return detail::ansiToWide(m_string, m_length);
}

const char* String::c_str() const {
    if (m_length == 0)
        return kEmpty;
    if (m_storage) {
        const char* blockEnd = m_storage->data() + m_storage->capacity();
        if (m_string + m_length < blockEnd && m_string[m_length] == 0)
            return m_string;
    } else if (m_string[m_length] == 0) {
        return m_string;
    }
    MemoryBlock* block = MemoryBlock::obtain(m_length + 1);
    std::memcpy(block->data(), m_string, m_length);
    block->data()[m_length] = 0;
    m_storage = block;
    m_string = block->data();
    return m_string;
}

String String::substring(uint32_t position, uint32_t count) const {
    if (position >= m_length)
        return String();
    uint32_t available = m_length - position;
    return String(m_storage, m_string + position, count > available ? available : count);
}

String String::before(char c, bool emptyWhenMissing) const {
    uint32_t at = find(c);
    if (at == npos)
        return emptyWhenMissing ? String() : *this;
    return substring(0, at);
}

String String::after(char c, bool emptyWhenMissing) const {
    uint32_t at = find(c);
    if (at == npos)
        return emptyWhenMissing ? String() : *this;
    return substring(at + 1);
}

uint32_t String::find(char c, uint32_t from) const noexcept {
    if (from >= m_length)
        return npos;
    const void* hit = std::memchr(m_string + from, c, m_length - from);
    return hit ? static_cast<uint32_t>(static_cast<const char*>(hit) - m_string) : npos;
}

uint32_t String::findLast(char c) const noexcept {
    return m_length == 0 ? npos : findLast(c, m_length - 1);
}

uint32_t String::findLast(char c, uint32_t atOrBefore) const noexcept {
    if (atOrBefore >= m_length)
        return npos;  // npos, or past the end, as every search
    for (uint32_t i = atOrBefore + 1; i-- > 0;) {
        if (m_string[i] == c)
            return i;
    }
    return npos;
}

uint32_t String::findFirstOf(const char* set, uint32_t from) const noexcept {
    return findFirstOf(set, static_cast<uint32_t>(std::strlen(set)), from);
}

uint32_t String::findFirstOf(const char* set, uint32_t setLength, uint32_t from) const noexcept {
    if (from >= m_length)
        return npos;
    bool member[256] = {};
    for (uint32_t i = 0; i < setLength; ++i)
        member[static_cast<unsigned char>(set[i])] = true;
    for (uint32_t i = from; i < m_length; ++i) {
        if (member[static_cast<unsigned char>(m_string[i])])
            return i;
    }
    return npos;
}

uint32_t String::find(const String& needle, uint32_t from, uint32_t bound) const noexcept {
    if (from >= m_length)
        return npos;
    if (bound > m_length)
        bound = m_length;
    if (needle.m_length == 0)
        return from <= bound ? from : npos;
    if (bound < from || bound - from < needle.m_length)
        return npos;
    const char* start = m_string + from;
    const char* last = m_string + bound - needle.m_length;
    const char first = needle.m_string[0];
    while (start <= last) {
        const void* hit = std::memchr(start, first, static_cast<size_t>(last - start) + 1);
        if (!hit)
            return npos;
        const char* at = static_cast<const char*>(hit);
        if (std::memcmp(at + 1, needle.m_string + 1, needle.m_length - 1) == 0) {
            return static_cast<uint32_t>(at - m_string);
        }
        start = at + 1;
    }
    return npos;
}

uint32_t String::findIgnoreCase(const String& needle, uint32_t from,
                                uint32_t bound) const noexcept {
    if (from >= m_length)
        return npos;
    if (bound > m_length)
        bound = m_length;
    if (needle.m_length == 0)
        return from <= bound ? from : npos;
    if (bound < from || bound - from < needle.m_length)
        return npos;
    for (uint32_t i = from; i + needle.m_length <= bound; ++i) {
        uint32_t k = 0;
        while (k < needle.m_length && foldAscii(m_string[i + k]) == foldAscii(needle.m_string[k])) {
            ++k;
        }
        if (k == needle.m_length)
            return i;
    }
    return npos;
}

uint32_t String::skipWhitespace(uint32_t from, uint32_t bound) const noexcept {
    if (from >= m_length)
        return npos;
    if (bound > m_length)
        bound = m_length;
    for (uint32_t i = from; i < bound; ++i) {
        if (!isBlank(m_string[i]))
            return i;
    }
    return npos;
}

String String::trim() const {
    uint32_t begin = 0;
    uint32_t end = m_length;
    while (begin < end && (m_string[begin] == 0 || isBlank(m_string[begin])))
        ++begin;
    while (end > begin && (m_string[end - 1] == 0 || isBlank(m_string[end - 1])))
        --end;
    if (begin == end)
        return String();
    if (begin == 0 && end == m_length)
        return *this;
    return substring(begin, end - begin);
}

bool String::operator==(const char* text) const noexcept {
    if (!text)
        return false;
    size_t n = std::strlen(text);
    return n == m_length && std::memcmp(m_string, text, n) == 0;
}

int String::compare(const String& other) const noexcept {
    uint32_t common = m_length < other.m_length ? m_length : other.m_length;
    int order = common ? std::memcmp(m_string, other.m_string, common) : 0;
    if (order != 0)
        return order;
    return m_length < other.m_length ? -1 : (m_length > other.m_length ? 1 : 0);
}

bool String::equalsIgnoreCase(const char* lower) const noexcept {
    return lower && equalsIgnoreCase(String(lower));
}

bool String::equalsIgnoreCase(const String& lower) const noexcept {
    return lower.m_length == m_length && regionEqualsIgnoreCase(0, lower);
}

bool String::regionEqualsIgnoreCase(uint32_t position, const String& lower) const noexcept {
    if (position > m_length || m_length - position < lower.m_length)
        return false;
    for (uint32_t i = 0; i < lower.m_length; ++i) {
        if (foldAscii(m_string[position + i]) != lower.m_string[i])
            return false;
    }
    return true;
}

bool String::startsWith(const String& prefix) const noexcept {
    return prefix.m_length <= m_length &&
           std::memcmp(m_string, prefix.m_string, prefix.m_length) == 0;
}

bool String::endsWith(const String& suffix) const noexcept {
    return suffix.m_length <= m_length && std::memcmp(m_string + m_length - suffix.m_length,
                                                      suffix.m_string, suffix.m_length) == 0;
}

bool String::endsWithIgnoreCase(const String& suffix) const noexcept {
    if (suffix.m_length > m_length)
        return false;
    const char* tail = m_string + m_length - suffix.m_length;
    for (uint32_t i = 0; i < suffix.m_length; ++i) {
        if (foldAscii(tail[i]) != foldAscii(suffix.m_string[i]))
            return false;
    }
    return true;
}

char* String::reserveAppend(uint32_t n) {
    uint32_t room = n == 0 ? 1 : n;
    // The new length, its terminator and the rounding must stay within 32 bits.
    if (room > MemoryBlock::kLargest - 1 - m_length)
        throw std::bad_alloc();
    if (m_storage && m_storage->refCount() <= 1 && m_string == m_storage->data()) {
        uint32_t capacity = m_storage->capacity();
        if (!(m_length < capacity && room < capacity - m_length)) {
            m_storage->growForAppend(m_length + room + 1);
        }
        char* data = m_storage->data();
        m_string = data;
        data[m_length + n] = 0;
        return data + m_length;
    }
    MemoryBlock* block = MemoryBlock::obtain(m_length + room + 1);
    if (m_length)
        std::memcpy(block->data(), m_string, m_length);
    m_storage = block;
    m_string = block->data();
    block->data()[m_length + n] = 0;
    return block->data() + m_length;
}

String& String::append(const char* data, uint32_t length) {
    if (length == 0)
        return *this;
    // `data` may point into this String: reserving first could move it, so take a copy
    // of its position relative to our own bytes when it does.
    if (data >= m_string && data < m_string + m_length) {
        String keep = *this;  // holds the old bytes alive while we copy out of them
        char* out = reserveAppend(length);
        std::memcpy(out, data, length);
        m_length += length;
        return *this;
    }
    char* out = reserveAppend(length);
    std::memcpy(out, data, length);
    m_length += length;
    return *this;
}

String& String::appendReserving(char c) {
    char* out = reserveAppend(1);
    *out = c;
    m_length += 1;
    return *this;
}

String& String::appendRepeat(char c, uint32_t count) {
    if (count == 0)
        return *this;
    char* out = reserveAppend(count);
    std::memset(out, c, count);
    m_length += count;
    return *this;
}

void String::setLength(uint32_t length) {
    if (length <= m_length) {
        m_length = length;
        return;
    }
    reserveAppend(length - m_length);
    m_length = length;
}

void String::setAt(uint32_t position, char c) {
    if (position >= m_length)
        return;
    reserveAppend(0);
    const_cast<char*>(m_string)[position] = c;
}

String String::toLower() const {
    uint32_t i = 0;
    while (i < m_length && !(m_string[i] >= 'A' && m_string[i] <= 'Z'))
        ++i;
    if (i == m_length)
        return *this;
    String result = copy();
    char* out = const_cast<char*>(result.m_string);
    for (; i < m_length; ++i)
        out[i] = foldAscii(out[i]);
    return result;
}

String String::replace(char from, char to) const {
    uint32_t at = find(from);
    if (at == npos)
        return *this;
    String result = copy();
    char* out = const_cast<char*>(result.m_string);
    for (uint32_t i = at; i < m_length; ++i) {
        if (out[i] == from)
            out[i] = to;
    }
    return result;
}

String String::remove(char c) const {
    uint32_t at = find(c);
    if (at == npos)
        return *this;
    String result;
    char* out = result.reserveAppend(m_length);
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_length; ++i) {
        if (m_string[i] != c)
            out[n++] = m_string[i];
    }
    result.m_length = n;
    const_cast<char*>(result.m_string)[n] = 0;
    return result;
}

String String::replace(const String& from, const String& to) const {
    if (from.isEmpty())
        return *this;
    uint32_t at = find(from);
    if (at == npos)
        return *this;
    String result;
    uint32_t done = 0;
    while (at != npos) {
        result.appendAll(substring(done, at - done), to);
        done = at + from.m_length;
        at = find(from, done);
    }
    result.append(m_string + done, m_length - done);
    return result;
}

int32_t String::toInt() const noexcept {
    uint32_t i = 0;
    bool negative = false;
    if (i < m_length && (m_string[i] == '+' || m_string[i] == '-')) {
        negative = m_string[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps like the 32-bit original instead of overflowing.
    uint32_t value = 0;
    for (; i < m_length && m_string[i] >= '0' && m_string[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(m_string[i] - '0');
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

int16_t String::toShort() const noexcept {
    uint32_t i = 0;
    bool negative = false;
    if (i < m_length && (m_string[i] == '+' || m_string[i] == '-')) {
        negative = m_string[i] == '-';
        ++i;
    }
    uint16_t value = 0;
    for (; i < m_length && m_string[i] >= '0' && m_string[i] <= '9'; ++i) {
        value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(m_string[i] - '0'));
    }
    return static_cast<int16_t>(negative ? static_cast<uint16_t>(0u - value) : value);
}

uint32_t String::fromHex() const noexcept {
    uint32_t value = 0;
    for (uint32_t i = 0; i < m_length; ++i) {
        char c = m_string[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * 16u + digit;
    }
    return value;
}

long String::toLong() const {
    return std::atol(c_str());
}

namespace {

// Each thread's spare addition blocks. Plain thread-local values (no destructor of their
// own), so that a block disposed late in the thread's exit still finds them; the keeper
// deletes the spares when the thread ends and closes the list.
constexpr int kSpareBlocks = 8;
thread_local StringAdditionBlock* t_spareBlocks[kSpareBlocks];
thread_local int t_spareCount = 0;  // -1 once the thread's keeper is gone

struct SpareBlockKeeper {
    bool active = false;
    ~SpareBlockKeeper() {
        while (t_spareCount > 0)
            delete t_spareBlocks[--t_spareCount];
        t_spareCount = -1;
    }
};
thread_local SpareBlockKeeper t_spareKeeper;

}  // namespace

StringAdditionBlock* StringAdditionBlock::make() {
    if (t_spareCount > 0)
        return t_spareBlocks[--t_spareCount];
    return new StringAdditionBlock;
}

void StringAdditionBlock::dispose() {
    gc::Pointer<StringAdditionBlock> next = std::move(m_next);
    for (uint32_t i = 0; i < m_used; ++i) {
        String& piece = m_pieces[i];
        piece.m_storage.reset();
        piece.m_string = String::kEmptyText;
        piece.m_length = 0;
    }
    m_used = 0;
    m_totalLength = 0;
    m_ownLength = 0;
    if (t_spareCount >= 0 && t_spareCount < kSpareBlocks) {
        // Makes sure the keeper exists on this thread. Once a spare has been kept, it does:
        // touching it only then spares the thread-local guard on every other call.
        if (t_spareCount == 0)
            t_spareKeeper.active = true;
        t_spareBlocks[t_spareCount++] = this;
    } else {
        delete this;
    }
    // The following blocks, one at a time: each is unlinked before it is released, so its
    // own dispose finds no chain and nothing recurses.
    while (next && next.refCount() == 1) {
        gc::Pointer<StringAdditionBlock> after = std::move(next->m_next);
        next = std::move(after);
    }
}

namespace {

// The block whose free slot takes the next piece, counting `length` in every block's total
// on the way. Iterative: a long chain must not grow the stack.
StringAdditionBlock* slotFor(StringAdditionBlock* block, uint32_t length) {
    while (true) {
        block->m_totalLength += length;
        if (block->m_used < StringAdditionBlock::kSlots) {
            block->m_ownLength += length;
            return block;
        }
        if (!block->m_next)
            block->m_next = StringAdditionBlock::make();
        block = block->m_next.get();
    }
}

}  // namespace

void StringAdditionBlock::addToFollowing(const String& piece) {
    StringAdditionBlock* block = slotFor(this, piece.length());
    block->m_pieces[block->m_used++] = piece;
}

void StringAdditionBlock::addToFollowing(String&& piece) {
    StringAdditionBlock* block = slotFor(this, piece.length());
    block->m_pieces[block->m_used++] = std::move(piece);
}

}  // namespace tessel
