// ResponseHeader: the header block of an HTTP response with its status line, status code,
// ETag and Set-Cookie lists; and Cookie, the cookie record that writes itself in Set-Cookie
// syntax. Malformed status lines raise EBadHeader (source "response") after a TRACE line.
// The two cookie lists are each guarded by their own lock; the rest is not synchronised.
#pragma once

#include <utility>
#include <vector>

#include "base/array.h"
#include "base/mutex.h"
#include "http/header.h"

namespace tessel {
namespace http {

class Cookie {
public:
    String name;
    String value;
    String path;
    String domain;
    String expires;  // as text
    String maxAge;   // as text
    bool secure = false;
    // Further attributes: name and value (an empty value writes the name alone).
    std::vector<std::pair<String, String>> attributes;

    // name=value; domain=...; path=...; expires="..."; attributes; secure; max-age=...
    // (each part only when set).
    String toString() const;
};

class ResponseHeader : public Header {
public:
    ResponseHeader();
    // The block that starts with the status line (see Header(text)). The status code is read
    // by extractResponseCode().
    explicit ResponseHeader(const String& text);

    // Rewrites a pending status code into the status line, writes the pending Set-Cookie,
    // Set-Cookie2 and ETag changes, then those of Header.
    String toString() override;
    void reset() override;

    // Reads the code that follows the first blanks of the status line, stores it and marks it
    // read. A status line without a blank raises EBadHeader.
    int extractResponseCode();
    int statusCode() const noexcept { return m_statusCode; }
    int statusCodeState() const noexcept { return m_statusCodeState; }
    // A new code, written into the status line by toString().
    void setStatusCode(int code);

    // Cookies to write as Set-Cookie (or Set-Cookie2) lines by toString(), replacing those of
    // the block; removeCookies removes the lines instead.
    void addCookie(const Cookie& cookie, bool version2 = false);
    void removeCookies(bool version2 = false);
    Array<Cookie, Mutex> cookies(bool version2 = false) const;
    int cookieState(bool version2 = false) const noexcept { return m_cookieStates[version2]; }

    // The entity tag, written between double quotes by toString().
    void setETag(const String& etag);
    void removeETag();
    const String& etag() const noexcept { return m_etag; }
    int etagState() const noexcept { return m_etagState; }

private:
    void applyResponse(String& text) const;

    int m_cookieStates[2] = {kFieldInitial, kFieldInitial};
    mutable Array<Cookie, Mutex> m_cookies[2];
    int m_etagState = kFieldInitial;
    String m_etag;
    int m_statusCodeState = kFieldInitial;
    int m_statusCode = 0;
};

}  // namespace http
}  // namespace tessel
