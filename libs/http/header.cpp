#include "http/header.h"

#include <cstring>
#include <string>

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"

namespace tessel {
namespace http {
namespace {

struct NameEntry {
    const char* name;
    const char* key;
};

constexpr NameEntry kNames[kHeaderSlots] = {
    {"Accept-Charset", "accept-charset"},
    {"Accept-Encoding", "accept-encoding"},
    {"Accept-Language", "accept-language"},
    {"Accept-Ranges", "accept-ranges"},
    {"Access-Control-Request-Method", "access-control-request-method"},
    {"", ""},
    {"Authorization", "authorization"},
    {"Cache-Control", "cache-control"},
    {"Connection", "connection"},
    {"Content-Disposition", "content-disposition"},
    {"Content-Encoding", "content-encoding"},
    {"Content-Location", "content-location"},
    {"Content-Type", "content-type"},
    {"Date", "date"},
    {"Destination", "destination"},
    {"Expires", "expires"},
    {"Host", "host"},
    {"If-Modified-Since", "if-modified-since"},
    {"If-None-Match", "if-none-match"},
    {"Last-Modified", "last-modified"},
    {"Location", "location"},
    {"Max-Forwards", "max-forwards"},
    {"Pragma", "pragma"},
    {"Proxy-Authorization", "proxy-authorization"},
    {"Proxy-Connection", "proxy-connection"},
    {"Referer", "referer"},
    {"Refresh", "refresh"},
    {"Server", "server"},
    {"SOAPAction", "soapaction"},
    {"Trailer", "trailer"},
    {"Transfer-Encoding", "transfer-encoding"},
    {"Upgrade", "upgrade"},
    {"User-Agent", "user-agent"},
    {"Via", "via"},
    {"X-Forwarded-Server", "x-forwarded-server"},
    {"X-Forwarded-Host", "x-forwarded-host"},
    {"X-Forwarded-For", "x-forwarded-for"},
    {"X-Forwarded-Proto", "x-forwarded-proto"},
    {"X-Vexlan-ConnId", "x-vexlan-connid"},
    {"X-Vexlan-Gateway", "x-vexlan-gateway"},
    {"X-Vexlan-Hostname", "x-vexlan-hostname"},
    {"X-Vexlan-JSParse", "x-vexlan-jsparse"},
    {"X-Vexlan-Orgname", "x-vexlan-orgname"},
    {"X-Vexlan-Protocol", "x-vexlan-protocol"},
    {"X-Vexlan-PreserveHost", "x-vexlan-preservehost"},
    {"X-Vexlan-PreserveWWWAuthenticate", "x-vexlan-preservewwwauthenticate"},
    {"X-Vexlan-Ticket", "x-vexlan-ticket"},
    {"X-Vexlan-ticket64", "x-vexlan-ticket64"},
    {"X-Vexlan-SmbServer", "x-vexlan-smbserver"},
    {"X-Vexlan-Syncml", "x-vexlan-syncml"},
    {"X-Vexlan-Service", "x-vexlan-service"},
    {"X-Vexlan-Rewrite", "x-vexlan-rewrite"},
    {"X-MicrosoftAjax", "x-microsoftajax"},
    {"Uncompressed-Content-Length", "uncompressed-content-length"},
    {"SSL_CLIENT_S_DN_CN", "ssl_client_s_dn_cn"},
    {"SSL_CLIENT_VERIFY", "ssl_client_verify"},
    {"X-Vexlan-SandcoveRecord", "x-vexlan-sandcoverecord"},
    {"Proxy-Authenticate", "proxy-authenticate"},
    {"WWW-Authenticate", "www-authenticate"},
    {"Content-Length", "content-length"},
    {"Cookie", "cookie"},
    {"ETag", "etag"},
    {"Set-Cookie", "set-cookie"},
    {"Set-Cookie2", "set-cookie2"},
};

bool hasName(int slot) {
    return slot >= 0 && slot < kHeaderSlots && kNames[slot].key[0] != 0;
}

bool endsWith(const String& text, const char* tail, uint32_t length) {
    return text.length() >= length &&
           std::memcmp(text.data() + text.length() - length, tail, length) == 0;
}

// The start of the first line at or after `from` that holds the header `key` (lower case):
// the key at the start of a line, then blanks, tabs, carriage returns or line feeds, then
// ":". Sets `colon` to the position of the ":".
uint32_t findHeader(const String& text, const String& key, uint32_t from, uint32_t& colon) {
    uint32_t line = from;
    while (line < text.length()) {
        if (text.regionEqualsIgnoreCase(line, key)) {
            uint32_t q = line + key.length();
            while (q < text.length() &&
                   (text[q] == ' ' || text[q] == '\t' || text[q] == '\r' || text[q] == '\n')) {
                ++q;
            }
            if (q < text.length() && text[q] == ':') {
                colon = q;
                return line;
            }
        }
        uint32_t lf = text.find('\n', line);
        if (lf == String::npos)
            break;
        line = lf + 1;
    }
    return String::npos;
}

}  // namespace

const char* headerName(int slot) {
    return slot >= 0 && slot < kHeaderSlots ? kNames[slot].name : "";
}
const char* headerKey(int slot) {
    return slot >= 0 && slot < kHeaderSlots ? kNames[slot].key : "";
}

Header::Header() {
    for (int& state : m_states)
        state = kFieldInitial;
    m_listStates[0] = m_listStates[1] = kFieldInitial;
}

Header::Header(const String& text) : Header() {
    uint32_t tail = text.length() < 4 ? 0 : text.length() - 4;
    if (text.find('\n', tail) == String::npos) {
        log(0, "http.Header", "Header", "bad header: " + text);
        TESSEL_THROW_AT(EBadHeader, fixed::kHeader);
    }
    m_text = text;
    // A whole block ends with "\r\n\r\n"; a status line alone with one "\r\n".
    m_crlf = endsWith(text, "\r\n", 2);
}

void Header::reset() {
    m_text = String();
    for (int& state : m_states)
        state = kFieldInitial;
    m_listStates[0] = m_listStates[1] = kFieldInitial;
    m_contentLengthState = kFieldInitial;
}

void Header::removeLines(String& text, int slot, FixedSource source) const {
    if (!hasName(slot))
        return;
    String key(kNames[slot].key);
    String result = text;
    uint32_t colon = 0;
    uint32_t at = findHeader(result, key, 0, colon);
    while (at != String::npos) {
        uint32_t lf = result.find('\n', colon);
        if (lf == String::npos) {
            log(0, "http.Header", "removeAttribute", "bad header: " + text);
            TESSEL_THROW_AT(EBadHeader, source);
        }
        String rest = result.substring(lf + 1);
        String kept = result.substring(0, at);
        result = String();
        result.appendAll(kept, rest);
        at = findHeader(result, key, at, colon);
    }
    text = result;
}

void Header::appendLine(String& text, const String& line) const {
    const char* end = m_crlf ? "\r\n" : "\n";
    uint32_t endLength = m_crlf ? 2 : 1;
    // The block ends with an empty line: drop it, add the line, close the block again. A
    // block that is only a status line keeps its line end.
    String body = text;
    if (m_crlf ? endsWith(body, "\r\n\r\n", 4) : endsWith(body, "\n\n", 2)) {
        body.setLength(body.length() - endLength);
    } else if (!body.isEmpty() && !endsWith(body, "\n", 1)) {
        body.append(end, endLength);
    }
    String content = line;
    if (endsWith(content, "\r\n", 2)) {
        content = content.substring(0, content.length() - 2);
    } else if (endsWith(content, "\n", 1)) {
        content = content.substring(0, content.length() - 1);
    }
    String result;
    if (content.isEmpty()) {
        result.appendAll(body, end);
    } else {
        result.appendAll(body, content, end, end);
    }
    text = result;
}

void Header::addLine(String& text, int slot, const String& value) const {
    if (!hasName(slot))
        return;
    String line;
    line.appendAll(kNames[slot].name, ": ", value);
    appendLine(text, line);
}

void Header::removeAttribute(int slot) {
    removeLines(m_text, slot, fixed::kHeader);
}
void Header::addLine(int slot, const String& value) {
    addLine(m_text, slot, value);
}
void Header::appendLine(const String& line) {
    appendLine(m_text, line);
}

void Header::setField(int slot, const String& value) {
    if (slot < 0 || slot >= kSingleValueSlots || !hasName(slot))
        return;
    m_values[slot] = value;
    m_states[slot] = kFieldSet;
}

void Header::setFieldValues(int slot, const Strings& values) {
    if (slot != kProxyAuthenticate && slot != kWWWAuthenticate)
        return;
    m_lists[slot - kProxyAuthenticate] = values;
    m_listStates[slot - kProxyAuthenticate] = kFieldSet;
}

void Header::setContentLength(int64_t length) {
    m_contentLength = length;
    m_contentLengthState = kFieldSet;
}

void Header::removeField(int slot) {
    if (slot >= 0 && slot < kSingleValueSlots && hasName(slot)) {
        m_states[slot] = kFieldRemove;
    } else if (slot == kProxyAuthenticate || slot == kWWWAuthenticate) {
        m_listStates[slot - kProxyAuthenticate] = kFieldRemove;
    } else if (slot == kContentLength) {
        m_contentLengthState = kFieldRemove;
    }
}

int Header::fieldState(int slot) const {
    if (slot >= 0 && slot < kSingleValueSlots)
        return m_states[slot];
    if (slot == kProxyAuthenticate || slot == kWWWAuthenticate) {
        return m_listStates[slot - kProxyAuthenticate];
    }
    if (slot == kContentLength)
        return m_contentLengthState;
    return kFieldInitial;
}

String Header::fieldValue(int slot) const {
    if (slot >= 0 && slot < kSingleValueSlots)
        return m_values[slot];
    if (slot == kContentLength)
        return String::copy(std::to_string(m_contentLength));
    return String();
}

Strings Header::fieldValues(int slot) const {
    if (slot == kProxyAuthenticate || slot == kWWWAuthenticate) {
        return m_lists[slot - kProxyAuthenticate];
    }
    return Strings();
}

void Header::applyFields(String& text) const {
    for (int slot = 0; slot < kSingleValueSlots; ++slot) {
        if (m_states[slot] == kFieldSet) {
            removeLines(text, slot, fixed::kHeader);
            addLine(text, slot, m_values[slot]);
        } else if (m_states[slot] == kFieldRemove) {
            removeLines(text, slot, fixed::kHeader);
        }
    }
    for (int i = 0; i < 2; ++i) {
        int slot = kProxyAuthenticate + i;
        if (m_listStates[i] == kFieldSet) {
            removeLines(text, slot, fixed::kHeader);
            Strings values = m_lists[i];
            for (const String& value : values)
                addLine(text, slot, value);
        } else if (m_listStates[i] == kFieldRemove) {
            removeLines(text, slot, fixed::kHeader);
        }
    }
    if (m_contentLengthState == kFieldSet) {
        removeLines(text, kContentLength, fixed::kHeader);
        addLine(text, kContentLength, String::copy(std::to_string(m_contentLength)));
    } else if (m_contentLengthState == kFieldRemove) {
        removeLines(text, kContentLength, fixed::kHeader);
    }
}

void Header::commitFields() {
    auto commit = [](int& state) {
        if (state == kFieldSet)
            state = kFieldWritten;
        if (state == kFieldRemove)
            state = kFieldRemoved;
    };
    for (int& state : m_states)
        commit(state);
    commit(m_listStates[0]);
    commit(m_listStates[1]);
    commit(m_contentLengthState);
}

String Header::toString() {
    String text = m_text;
    applyFields(text);
    commitFields();
    m_text = text;
    return m_text;
}

}  // namespace http
}  // namespace tessel
