#include "http/response.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"

namespace tessel {
namespace http {

String Cookie::toString() const {
    String out;
    out.appendAll(name, '=', value);
    if (!domain.isEmpty())
        out.appendAll("; domain=", domain);
    if (!path.isEmpty())
        out.appendAll("; path=", path);
    if (!expires.isEmpty())
        out.appendAll("; expires=\"", expires, '"');
    for (const auto& attribute : attributes) {
        out.appendAll("; ", attribute.first);
        if (!attribute.second.isEmpty())
            out.appendAll("=\"", attribute.second, '"');
    }
    if (secure)
        out.append("; secure");
    if (!maxAge.isEmpty())
        out.appendAll("; max-age=", maxAge);
    return out;
}

ResponseHeader::ResponseHeader() = default;

ResponseHeader::ResponseHeader(const String& text) : Header(text) {}

void ResponseHeader::reset() {
    Header::reset();
    for (int i = 0; i < 2; ++i) {
        m_cookieStates[i] = kFieldInitial;
        m_cookies[i].clear();
    }
    m_etagState = kFieldInitial;
    m_etag = String();
    m_statusCodeState = kFieldInitial;
    m_statusCode = 0;
}

int ResponseHeader::extractResponseCode() {
    uint32_t lineEnd = m_text.find('\n');
    String statusLine = lineEnd == String::npos ? m_text : m_text.substring(0, lineEnd);
    uint32_t space = statusLine.find(' ');
    if (space == String::npos) {
        log(0, "http.Response", "extractResponseCode", "bad header: " + m_text);
        TESSEL_THROW_AT(EBadHeader, fixed::kResponse);
    }
    uint32_t at = space;
    while (at < statusLine.length() && statusLine[at] == ' ')
        ++at;
    m_statusCode = statusLine.substring(at).toInt();
    m_statusCodeState = kFieldWritten;
    return m_statusCode;
}

void ResponseHeader::setStatusCode(int code) {
    m_statusCode = code;
    m_statusCodeState = kFieldSet;
}

void ResponseHeader::addCookie(const Cookie& cookie, bool version2) {
    m_cookies[version2].append(cookie);
    m_cookieStates[version2] = kFieldSet;
}

void ResponseHeader::removeCookies(bool version2) {
    m_cookieStates[version2] = kFieldRemove;
}

Array<Cookie, Mutex> ResponseHeader::cookies(bool version2) const {
    return m_cookies[version2];
}

void ResponseHeader::setETag(const String& etag) {
    m_etag = etag;
    m_etagState = kFieldSet;
}

void ResponseHeader::removeETag() {
    m_etagState = kFieldRemove;
}

void ResponseHeader::applyResponse(String& text) const {
    if (m_statusCodeState == kFieldSet) {
        uint32_t lineEnd = text.find('\n');
        uint32_t lineLength = lineEnd == String::npos ? text.length() : lineEnd;
        uint32_t space = text.find(' ');
        uint32_t codeStart = space;
        while (codeStart < lineLength && text[codeStart] == ' ')
            ++codeStart;
        uint32_t codeEnd = codeStart < lineLength ? text.find(' ', codeStart) : String::npos;
        if (space >= lineLength || codeEnd >= lineLength) {
            log(0, "http.ResponseHeader", "extractResponseCode", "bad header: " + text);
            TESSEL_THROW_AT(EBadHeader, fixed::kResponse);
        }
        String rewritten;
        rewritten.appendAll(text.substring(0, codeStart),
                            String(static_cast<int32_t>(m_statusCode)), text.substring(codeEnd));
        text = rewritten;
    }
    for (int i = 0; i < 2; ++i) {
        int slot = i == 0 ? kSetCookie : kSetCookie2;
        if (m_cookieStates[i] == kFieldSet) {
            removeLines(text, slot, fixed::kResponse);
            for (const Cookie& cookie : m_cookies[i])
                addLine(text, slot, cookie.toString());
        } else if (m_cookieStates[i] == kFieldRemove) {
            removeLines(text, slot, fixed::kResponse);
        }
    }
    if (m_etagState == kFieldSet) {
        removeLines(text, kETag, fixed::kResponse);
        String quoted;
        quoted.appendAll('"', m_etag, '"');
        addLine(text, kETag, quoted);
    } else if (m_etagState == kFieldRemove) {
        removeLines(text, kETag, fixed::kResponse);
    }
}

String ResponseHeader::toString() {
    String text = m_text;
    applyResponse(text);
    applyFields(text);
    auto commit = [](int& state) {
        if (state == kFieldSet)
            state = kFieldWritten;
        if (state == kFieldRemove)
            state = kFieldRemoved;
    };
    commit(m_statusCodeState);
    commit(m_cookieStates[0]);
    commit(m_cookieStates[1]);
    commit(m_etagState);
    commitFields();
    m_text = text;
    return m_text;
}

}  // namespace http
}  // namespace tessel
