#include "http/uri.h"

#include <cstring>

#include "base/console.h"
#include "base/fixedpositions.h"
#include "regex/matcher.h"
#include "regex/pattern.h"

namespace tessel {
namespace http {
namespace {

const char* const kSplitPattern = "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?";

// The longest text the builders produce (String lengths are 32-bit).
constexpr uint64_t kMaxText = 0xfffffff0u;

// Group numbers in the splitting pattern.
constexpr int kSchemeGroup = 2;
constexpr int kAuthorityGroup = 4;
constexpr int kPathGroup = 5;
constexpr int kQueryGroup = 7;
constexpr int kFragmentGroup = 9;

// Compiled once, on first use (thread-safe), and kept for the life of the process: a thread
// that still splits a URI while the process exits finds it intact.
const regex::Pattern& splitPattern() {
    static const gc::Pointer<regex::Pattern>* pattern =
        new gc::Pointer<regex::Pattern>(regex::Pattern::compile(kSplitPattern, 0));
    return **pattern;
}

// The value of each hexadecimal digit (either case); -1 for every other byte.
struct HexTable {
    signed char values[256];
    constexpr HexTable() : values() {
        for (int c = 0; c < 256; ++c) {
            values[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                        : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                        : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                               : -1;
        }
    }
    int operator[](char c) const { return values[static_cast<unsigned char>(c)]; }
};
constexpr HexTable kHexValue;

// The next escape ("%" and two hexadecimal digits) in [p, end), or null. A "%" that does not
// start one is an ordinary byte; the search goes on after it. memchr skips the runs between.
const char* nextEscape(const char* p, const char* end) {
    while (end - p >= 3) {
        auto* percent = static_cast<const char*>(std::memchr(p, '%', end - p - 2));
        if (percent == nullptr)
            return nullptr;
        if (kHexValue[percent[1]] >= 0 && kHexValue[percent[2]] >= 0)
            return percent;
        p = percent + 1;
    }
    return nullptr;
}

// Letters, digits and "-", ".", "_", "~": the bytes that percent-encoding copies.
struct UnreservedTable {
    bool entries[256];
    constexpr UnreservedTable() : entries() {
        for (int c = 0; c < 256; ++c) {
            entries[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        }
    }
    bool has(unsigned char c) const { return entries[c]; }
};
constexpr UnreservedTable kUnreserved;

bool contains(const String& set, char c) {
    return !set.isEmpty() && std::memchr(set.data(), c, set.length()) != nullptr;
}

// Writes the encoded form of `text` at `out` (room for three bytes per byte) and returns the
// end of what it wrote.
char* encodeInto(char* out, const String& text, const String& keep, const String& drop) {
    static const char kHex[] = "0123456789ABCDEF";
    const char* data = text.data();
    for (uint32_t i = 0; i < text.length(); ++i) {
        char c = data[i];
        auto b = static_cast<unsigned char>(c);
        if (kUnreserved.has(b) || contains(keep, c)) {
            *out++ = c;
        } else if (!contains(drop, c)) {
            *out++ = '%';
            *out++ = kHex[b >> 4];
            *out++ = kHex[b & 15];
        }
    }
    return out;
}

}  // namespace

Uri::Uri(const String& text, bool decode) : m_decode(decode) {
    gc::Pointer<regex::Matcher> matcher = splitPattern().createMatcher(text);
    if (!matcher->matchesAll()) {
        log(2, "Uri", "", "Invalid uri: " + text);
        TESSEL_THROW_AT(UriComponentException, fixed::kUri);
    }
    m_scheme = matcher->groupText(kSchemeGroup);
    m_authority = matcher->groupText(kAuthorityGroup);
    m_path = matcher->groupText(kPathGroup);
    setQuery(matcher->groupText(kQueryGroup));
    m_fragment = matcher->groupText(kFragmentGroup);
    if (m_decode) {
        m_fragment = percentDecode(m_fragment);
        m_path = percentDecode(m_path);
    }
}

void Uri::setScheme(const String& scheme) {
    if (scheme.findFirstOf(":/?#") != String::npos) {
        log(2, "Uri", "setScheme", "Invalid scheme: " + scheme);
        TESSEL_THROW_AT(UriComponentException, fixed::kUri);
    }
    m_scheme = scheme;
}

void Uri::setAuthority(const String& authority) {
    if (authority.findFirstOf("/?#") != String::npos) {
        log(2, "Uri", "setAuthority", "Invalid authority: " + authority);
        TESSEL_THROW_AT(UriComponentException, fixed::kUri);
    }
    m_authority = authority;
    if (m_path.isEmpty() || m_path[0] != '/')
        m_path = "/" + m_path;
}

void Uri::setQuery(const String& text) {
    m_names.clear();
    m_values.clear();
    if (text.isEmpty())
        return;
    uint32_t from = 0;
    for (;;) {
        uint32_t amp = text.find('&', from);
        String piece = text.substring(from, amp == String::npos ? String::npos : amp - from);
        uint32_t equals = piece.find('=');
        String name = equals == String::npos ? piece : piece.substring(0, equals);
        String value = equals == String::npos ? String() : piece.substring(equals + 1);
        if (m_decode) {
            name = percentDecode(name);
            value = percentDecode(value);
        }
        setParameter(name, value);
        if (amp == String::npos)
            break;
        from = amp + 1;
    }
}

String Uri::getParameter(const String& name) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? String() : it->second;
}

bool Uri::hasParameter(const String& name) const {
    return m_values.count(name) != 0;
}

void Uri::setParameter(const String& name, const String& value) {
    auto it = m_values.find(name);
    if (it == m_values.end()) {
        m_names.push_back(name);
        m_values.emplace(name, value);
    } else {
        it->second = value;
    }
}

String Uri::getUserInformation() const {
    return m_authority.before('@', true);
}

String Uri::getHostAndPort() const {
    uint32_t at = m_authority.find('@');
    return at == String::npos ? m_authority : m_authority.substring(at + 1);
}

String Uri::toString() const {
    // One reservation for the longest possible text (every encoded byte taking three).
    const uint32_t factor = m_decode ? 3 : 1;
    uint64_t bound = m_scheme.length() + 1 + 2 + m_authority.length() + m_path.length() + 1 +
                     m_fragment.length();
    for (const String& name : m_names) {
        bound += 2 + uint64_t{factor} * (name.length() + m_values.find(name)->second.length());
    }
    if (bound > kMaxText) {
        log(2, "Uri", "toString", "Uri too long");
        TESSEL_THROW_AT(UriComponentException, fixed::kUri);
    }
    String text;
    char* start = text.reserveAppend(static_cast<uint32_t>(bound));
    char* out = start;
    auto put = [&out](const String& part) {
        std::memcpy(out, part.data(), part.length());
        out += part.length();
    };
    auto putParameter = [&](const String& part) {
        if (m_decode) {
            out = encodeInto(out, part, String(), String());
        } else {
            put(part);
        }
    };
    if (!m_scheme.isEmpty()) {
        put(m_scheme);
        *out++ = ':';
    }
    if (!m_authority.isEmpty()) {
        *out++ = '/';
        *out++ = '/';
        put(m_authority);
    }
    put(m_path);
    for (size_t i = 0; i < m_names.size(); ++i) {
        const String& name = m_names[i];
        const String& value = m_values.find(name)->second;
        *out++ = i == 0 ? '?' : '&';
        putParameter(name);
        if (!value.isEmpty()) {
            *out++ = '=';
            putParameter(value);
        }
    }
    if (!m_fragment.isEmpty()) {
        *out++ = '#';
        put(m_fragment);
    }
    text.setLength(static_cast<uint32_t>(out - start));
    return text;
}

bool isHttpsOrRelative(const Uri& uri) {
    return uri.getScheme().isEmpty() || uri.getScheme().equalsIgnoreCase("https");
}

String hostOf(const String& hostAndPort) {
    if (hostAndPort.startsWith("[")) {
        uint32_t close = hostAndPort.find(']');
        if (close != String::npos)
            return hostAndPort.substring(1, close - 1);
        return hostAndPort;
    }
    uint32_t colon = hostAndPort.find(':');
    return colon == String::npos ? hostAndPort : hostAndPort.substring(0, colon);
}

String percentEncode(const String& text, const String& keep, const String& drop) {
    const uint32_t n = text.length();
    uint32_t i = 0;
    while (i < n && kUnreserved.has(static_cast<unsigned char>(text.data()[i])))
        ++i;
    if (i == n)
        return text;  // nothing to change
    if (uint64_t{n} * 3 > kMaxText) {
        log(2, "Uri", "percentEncode", "Text too long");
        TESSEL_THROW_AT(UriComponentException, fixed::kUri);
    }
    String result;
    char* start = result.reserveAppend(n * 3);
    char* end = encodeInto(start, text, keep, drop);
    result.setLength(static_cast<uint32_t>(end - start));
    return result;
}

String percentDecode(const String& text) {
    const char* copied = text.data();
    const char* end = copied + text.length();
    const char* escape = nextEscape(copied, end);
    if (escape == nullptr)
        return text;  // nothing to change: share the storage
    // Decoding only shrinks the text: one reservation at the input's length is enough.
    String result;
    char* start = result.reserveAppend(text.length());
    char* out = start;
    do {
        std::memcpy(out, copied, static_cast<size_t>(escape - copied));
        out += escape - copied;
        *out++ = static_cast<char>(kHexValue[escape[1]] * 16 + kHexValue[escape[2]]);
        copied = escape + 3;
        escape = nextEscape(copied, end);
    } while (escape != nullptr);
    std::memcpy(out, copied, static_cast<size_t>(end - copied));
    out += end - copied;
    result.setLength(static_cast<uint32_t>(out - start));
    return result;
}

}  // namespace http
}  // namespace tessel
