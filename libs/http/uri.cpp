#include "http/uri.h"

#include <cstring>

#include "base/console.h"
#include "regex/matcher.h"
#include "regex/pattern.h"

namespace tessel {
namespace http {
namespace {

const char* const kSplitPattern = "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?";
const char* const kEscapePattern = "%([A-Fa-f0-9]{2})";

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

const regex::Pattern& escapePattern() {
    static const gc::Pointer<regex::Pattern>* pattern =
        new gc::Pointer<regex::Pattern>(regex::Pattern::compile(kEscapePattern, 0));
    return **pattern;
}

[[noreturn]] void raise(uint32_t line) {
    throw UriComponentException("UriComponentException", "uri", line);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool contains(const String& set, char c) {
    return !set.isEmpty() && std::memchr(set.data(), c, set.length()) != nullptr;
}

}  // namespace

Uri::Uri(const String& text, bool decode) : m_decode(decode) {
    gc::Pointer<regex::Matcher> matcher = splitPattern().createMatcher(text);
    if (!matcher->matchesAll()) {
        log(2, "Uri", "", "Invalid uri: " + text);
        raise(__LINE__);
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
        raise(__LINE__);
    }
    m_scheme = scheme;
}

void Uri::setAuthority(const String& authority) {
    if (authority.findFirstOf("/?#") != String::npos) {
        log(2, "Uri", "setAuthority", "Invalid authority: " + authority);
        raise(__LINE__);
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
    String text;
    if (!m_scheme.isEmpty())
        text.appendAll(m_scheme, ':');
    if (!m_authority.isEmpty())
        text.appendAll("//", m_authority);
    text.append(m_path);
    for (size_t i = 0; i < m_names.size(); ++i) {
        const String& name = m_names[i];
        const String& value = m_values.find(name)->second;
        text.append(i == 0 ? '?' : '&');
        text.append(m_decode ? percentEncode(name) : name);
        if (!value.isEmpty()) {
            text.append('=');
            text.append(m_decode ? percentEncode(value) : value);
        }
    }
    if (!m_fragment.isEmpty())
        text.appendAll('#', m_fragment);
    return text;
}

String percentEncode(const String& text, const String& keep, const String& drop) {
    static const char kHex[] = "0123456789ABCDEF";
    const uint32_t n = text.length();
    uint32_t i = 0;
    while (i < n && isUnreserved(static_cast<unsigned char>(text.data()[i])))
        ++i;
    if (i == n)
        return text;  // nothing to change

    String result;
    char* out = result.reserveAppend(n * 3);
    char* start = out;
    std::memcpy(out, text.data(), i);
    out += i;
    for (; i < n; ++i) {
        char c = text.data()[i];
        auto b = static_cast<unsigned char>(c);
        if (isUnreserved(b) || contains(keep, c)) {
            *out++ = c;
        } else if (!contains(drop, c)) {
            *out++ = '%';
            *out++ = kHex[b >> 4];
            *out++ = kHex[b & 15];
        }
    }
    result.setLength(static_cast<uint32_t>(out - start));
    return result;
}

String percentDecode(const String& text) {
    if (text.find('%') == String::npos)
        return text;
    gc::Pointer<regex::Matcher> matcher = escapePattern().createMatcher(text);
    if (!matcher->findFirst())
        return text;
    const String& input = matcher->input();
    String result;
    char* out = result.reserveAppend(input.length());
    char* start = out;
    uint32_t copied = 0;
    do {
        auto begin = static_cast<uint32_t>(matcher->groupStart(0));
        auto digits = static_cast<uint32_t>(matcher->groupStart(1));
        std::memcpy(out, input.data() + copied, begin - copied);
        out += begin - copied;
        *out++ = static_cast<char>(hexDigit(input[digits]) * 16 + hexDigit(input[digits + 1]));
        copied = static_cast<uint32_t>(matcher->groupEnd(0));
    } while (matcher->findNext());
    std::memcpy(out, input.data() + copied, input.length() - copied);
    out += input.length() - copied;
    result.setLength(static_cast<uint32_t>(out - start));
    return result;
}

}  // namespace http
}  // namespace tessel
