// Uri: splits a URI text into scheme, authority, path, query parameters and fragment, lets
// callers change the parts and builds the text back; plus percent-encoding and -decoding.
//
// Errors: a text the splitting pattern does not accept (a line break in the fragment), and
// setters given a part with a separator in it, log an ERROR line under "Uri" and raise
// UriComponentException (base/exception.h); a setter that raises leaves the object unchanged.
// Threading: a Uri is a plain value for one thread at a time; the splitting pattern is
// compiled once per process on first use, safely from any thread.
#pragma once

#include <map>
#include <vector>

#include "base/exception.h"
#include "base/string.h"

namespace tessel {
namespace http {

class Uri {
public:
    // Parses `text`. With `decode` the path, the fragment and the query names and values are
    // kept percent-decoded, and names and values are encoded again by toString().
    explicit Uri(const String& text = String(), bool decode = true);

    const String& getScheme() const noexcept { return m_scheme; }
    const String& getAuthority() const noexcept { return m_authority; }
    const String& getPath() const noexcept { return m_path; }
    const String& getFragment() const noexcept { return m_fragment; }
    bool isDecoding() const noexcept { return m_decode; }

    // Rejects a scheme holding ":", "/", "?" or "#".
    void setScheme(const String& scheme);
    // Rejects an authority holding "/", "?" or "#". A path that is empty or does not begin
    // with "/" then gets a "/" in front.
    void setAuthority(const String& authority);
    // Replaces every parameter by those of `text` ("name=value" pieces joined by "&"; a
    // repeated name keeps its first place and takes the last value).
    void setQuery(const String& text);

    // The value stored under `name`; empty when there is none.
    String getParameter(const String& name) const;
    bool hasParameter(const String& name) const;
    // A new name goes after the others; an existing one keeps its place.
    void setParameter(const String& name, const String& value);
    // Parameter names in order of first appearance.
    const std::vector<String>& getParameterNames() const noexcept { return m_names; }

    // The authority's text before the first "@"; empty when it has none.
    String getUserInformation() const;
    // The authority's text after the first "@"; the whole authority when it has none.
    String getHostAndPort() const;

    // The text built back; names and values percent-encoded when decoding.
    String toString() const;

private:
    String m_scheme;
    String m_authority;
    String m_path;
    std::vector<String> m_names;
    std::map<String, String> m_values;
    String m_fragment;
    bool m_decode;
};

// Whether `uri` may be fetched for the gateway: its scheme is https (in any case) or it has
// none (a relative address, completed with https).
bool isHttpsOrRelative(const Uri& uri);

// The host of a "host[:port]" text: the text before its port, and for a bracketed IPv6
// literal ("[2001:db8::1]:8443") the address inside the brackets, the form libcurl matches
// cookie domains against. An unclosed bracket leaves the text as it is.
String hostOf(const String& hostAndPort);

// Letters, digits and "-", ".", "_", "~" are copied, as is every byte of `keep`; bytes of
// `drop` are left out; every other byte becomes "%" and two upper-case hexadecimal digits.
// A result that could exceed the longest String raises UriComponentException.
String percentEncode(const String& text, const String& keep = String(),
                     const String& drop = String());
// Every "%" followed by two hexadecimal digits becomes the byte they denote; anything else,
// a "%" without two digits included, is copied as it is.
String percentDecode(const String& text);

}  // namespace http
}  // namespace tessel
