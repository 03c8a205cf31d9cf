// Internal to libs/xml: the byte scans of the parser. Names, values and indentation differ in
// length from one to the next, so a loop that tests one byte at a time pays a mispredicted exit
// per scan; with SSE2 (always there on x86-64) sixteen bytes are tested at once and the stop is
// found from a bit mask. Without SSE2 (32-bit builds for older processors) the same scans run
// byte by byte over a 256-entry table.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tessel {
namespace xml {
namespace detail {

// Byte classes of the scanner.
enum : unsigned char {
    kSpace = 1,      // blank, tab, line feed, carriage return
    kTagStop = 2,    // ends a tag name: blank, CR, LF, tab, "/", ">"
    kNameStop = 4,   // ends an attribute name: ">", "/", "=", blank, CR, tab, LF
    kValueStop = 8,  // ends an unquoted value: blank, CR, LF, tab, ">"
};

struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of() {
        for (unsigned char c : {' ', '\t', '\n', '\r'}) {
            of[c] = kSpace | kTagStop | kNameStop | kValueStop;
        }
        of[static_cast<unsigned char>('/')] = kTagStop | kNameStop;
        of[static_cast<unsigned char>('>')] = kTagStop | kNameStop | kValueStop;
        of[static_cast<unsigned char>('=')] = kNameStop;
    }
};
constexpr ByteClasses kClasses;

inline bool is(char c, unsigned char cls) {
    return (kClasses.of[static_cast<unsigned char>(c)] & cls) != 0;
}

#ifdef __SSE2__
// One bit per byte of `v` that belongs to class `Class` (exactly the bytes the table lists).
template <unsigned char Class>
inline unsigned int classMask(__m128i v) {
    auto eq = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    __m128i hit = _mm_or_si128(_mm_or_si128(eq(' '), eq('\t')), _mm_or_si128(eq('\n'), eq('\r')));
    if (Class & (kTagStop | kNameStop | kValueStop))
        hit = _mm_or_si128(hit, eq('>'));
    if (Class & (kTagStop | kNameStop))
        hit = _mm_or_si128(hit, eq('/'));
    if (Class & kNameStop)
        hit = _mm_or_si128(hit, eq('='));
    return static_cast<unsigned int>(_mm_movemask_epi8(hit));
}

// The offset in [p, length) of the first set bit of `maskOf` applied to 16-byte blocks, or
// `length`. Blocks never reach past `length`: the last one ends there, and `maskOf(block,
// skip)` leaves out its first `skip` bytes (before `p`, already seen or not part of the
// range); texts shorter than a block go byte by byte through `slow`.
template <class MaskOf, class Slow>
inline uint32_t scanBlocks(const char* data, uint32_t p, uint32_t length, MaskOf maskOf,
                           Slow slow) {
    while (length - p >= 16) {
        unsigned int mask = maskOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p)), 0u);
        if (mask)
            return p + static_cast<uint32_t>(__builtin_ctz(mask));
        p += 16;
    }
    if (p >= length)
        return length;
    if (length < 16)
        return slow(p);
    uint32_t base = length - 16;
    unsigned int mask =
        maskOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + base)), p - base);
    return mask ? p + static_cast<uint32_t>(__builtin_ctz(mask)) : length;
}
#endif

// The first offset from `p` whose byte is in `Class` (With = true) or not in it (With =
// false); `length` when there is none. `p` must not exceed `length`.
template <unsigned char Class, bool With>
inline uint32_t scan(const char* data, uint32_t p, uint32_t length) {
    auto slow = [data, length](uint32_t q) {
        while (q < length && is(data[q], Class) != With)
            ++q;
        return q;
    };
#ifdef __SSE2__
    return scanBlocks(
        data, p, length,
        [](__m128i v, unsigned int skip) {
            return (With ? classMask<Class>(v) : ~classMask<Class>(v) & 0xffffu) >> skip;
        },
        slow);
#else
    return slow(p);
#endif
}

// A tag name from `p`: the offset of its first stop byte (kTagStop), or `length`; `colon`
// tells whether a ":" comes before it. One pass for both, as each tag needs both.
inline uint32_t scanTagName(const char* data, uint32_t p, uint32_t length, bool& colon) {
    auto slow = [data, length, &colon](uint32_t q) {
        while (q < length && !is(data[q], kTagStop)) {
            colon = colon || data[q] == ':';
            ++q;
        }
        return q;
    };
    colon = false;
#ifdef __SSE2__
    const __m128i colons = _mm_set1_epi8(':');
    return scanBlocks(
        data, p, length,
        [&colon, colons](__m128i v, unsigned int skip) {
            unsigned int stops = classMask<kTagStop>(v) >> skip;
            unsigned int found =
                static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, colons))) >> skip;
            // Colons up to the first stop (all of the block when there is none).
            colon = colon || (found & ((stops & (0u - stops)) - 1u) & 0xffffu) != 0;
            return stops;
        },
        slow);
#else
    return slow(p);
#endif
}

// The first offset from `p` that holds `c`, or `length`. `p` must not exceed `length`.
inline uint32_t scanFor(char c, const char* data, uint32_t p, uint32_t length) {
#ifdef __SSE2__
    auto slow = [c, data, length](uint32_t q) {
        while (q < length && data[q] != c)
            ++q;
        return q;
    };
    __m128i wanted = _mm_set1_epi8(c);
    return scanBlocks(
        data, p, length,
        [wanted](__m128i v, unsigned int skip) {
            return static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted))) >> skip;
        },
        slow);
#else
    const void* hit = p < length ? std::memchr(data + p, c, length - p) : nullptr;
    return hit ? static_cast<uint32_t>(static_cast<const char*>(hit) - data) : length;
#endif
}

}  // namespace detail
}  // namespace xml
}  // namespace tessel
