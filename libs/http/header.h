// Header: an HTTP header block kept as the text it was received in and edited in place.
// Pending field changes (set a value, remove a header) are recorded per slot of the header
// name table and written into the text by toString().
//
// Lines are searched by the lower-case name at the start of a line, followed by optional
// blanks and ":". A malformed block raises EBadHeader (source "header") after a TRACE line
// with "bad header: " and the block; the object is then left as it was. Not synchronised.
#pragma once

#include <cstdint>

#include "base/exception.h"
#include "base/serializers.h"
#include "base/string.h"

namespace tessel {
namespace http {

// Slots of the process-wide header name table.
enum HeaderSlot : int {
    kAcceptCharset = 0,
    kAcceptEncoding = 1,
    kAcceptLanguage = 2,
    kAcceptRanges = 3,
    kAccessControlRequestMethod = 4,
    // slot 5 has no name
    kAuthorization = 6,
    kCacheControl = 7,
    kConnection = 8,
    kContentDisposition = 9,
    kContentEncoding = 10,
    kContentLocation = 11,
    kContentType = 12,
    kDate = 13,
    kDestination = 14,
    kExpires = 15,
    kHost = 16,
    kIfModifiedSince = 17,
    kIfNoneMatch = 18,
    kLastModified = 19,
    kLocation = 20,
    kMaxForwards = 21,
    kPragma = 22,
    kProxyAuthorization = 23,
    kProxyConnection = 24,
    kReferer = 25,
    kRefresh = 26,
    kServer = 27,
    kSoapAction = 28,
    kTrailer = 29,
    kTransferEncoding = 30,
    kUpgrade = 31,
    kUserAgent = 32,
    kVia = 33,
    kXForwardedServer = 34,
    kXForwardedHost = 35,
    kXForwardedFor = 36,
    kXForwardedProto = 37,
    kXVexlanConnId = 38,
    kXVexlanGateway = 39,
    kXVexlanHostname = 40,
    kXVexlanJSParse = 41,
    kXVexlanOrgname = 42,
    kXVexlanProtocol = 43,
    kXVexlanPreserveHost = 44,
    kXVexlanPreserveWWWAuthenticate = 45,
    kXVexlanTicket = 46,
    kXVexlanTicket64 = 47,
    kXVexlanSmbServer = 48,
    kXVexlanSyncml = 49,
    kXVexlanService = 50,
    kXVexlanRewrite = 51,
    kXMicrosoftAjax = 52,
    kUncompressedContentLength = 53,
    kSslClientSDnCn = 54,
    kSslClientVerify = 55,
    kXVexlanSandcoveRecord = 56,
    kProxyAuthenticate = 57,  // multi-line
    kWWWAuthenticate = 58,    // multi-line
    kContentLength = 59,      // number
    kCookie = 60,
    kETag = 61,
    kSetCookie = 62,
    kSetCookie2 = 63,
};

constexpr int kHeaderSlots = 64;
// Slots 0 to 56 hold one text value each.
constexpr int kSingleValueSlots = 57;

// The canonical spelling of a slot's header name ("" for slot 5 and out of range).
const char* headerName(int slot);
// Its search key: the name in lower case.
const char* headerKey(int slot);

// What toString() is to do with a field, and what it did.
enum FieldState : int {
    kFieldInitial = 0,  // nothing requested
    kFieldWritten = 1,  // the value was written
    kFieldRemoved = 2,  // the header was removed
    kFieldSet = 3,      // a new value is to be written
    kFieldRemove = 4,   // the header is to be removed
};

class Header {
public:
    // An empty block with CRLF line ends.
    Header();
    // Takes `text` as the block. Its line ends are CRLF when it ends with "\r\n" (a whole
    // block ends with "\r\n\r\n"), LF otherwise. A text with no line feed among its last four
    // bytes raises EBadHeader.
    explicit Header(const String& text);
    virtual ~Header() = default;

    // Writes every pending field change into the text and returns the text.
    virtual String toString();
    // Empties the text and puts every field state back to initial.
    virtual void reset();

    const String& text() const noexcept { return m_text; }
    bool crlf() const noexcept { return m_crlf; }

    // Removes every line of the header at `slot`, now. A hit without a line feed after its
    // ":" raises EBadHeader.
    void removeAttribute(int slot);
    // Adds "Name: value" as the last line of the block, now.
    void addLine(int slot, const String& value);
    // Adds a received line (its own line end, if any, is dropped) as the last line, now.
    void appendLine(const String& line);

    // Pending changes, written by toString(). setField takes slots 0 to 56, setFieldValues
    // 57 and 58 (one line per value), setContentLength slot 59; removeField any of 0 to 59.
    // Other slots are ignored.
    void setField(int slot, const String& value);
    void setFieldValues(int slot, const Strings& values);
    void setContentLength(int64_t length);
    void removeField(int slot);

    int fieldState(int slot) const;
    String fieldValue(int slot) const;
    Strings fieldValues(int slot) const;
    int64_t contentLength() const noexcept { return m_contentLength; }

protected:
    // The header's lines removed from `text`; `source` is the raising class's fixed source.
    void removeLines(String& text, int slot, FixedSource source) const;
    void addLine(String& text, int slot, const String& value) const;
    void appendLine(String& text, const String& line) const;
    // The changes of toString() applied to `text`; states are committed separately, so that a
    // failure leaves the object as it was.
    void applyFields(String& text) const;
    void commitFields();

    String m_text;
    bool m_crlf = true;

private:
    int m_states[kSingleValueSlots];
    String m_values[kSingleValueSlots];
    int m_listStates[2];
    Strings m_lists[2];
    int m_contentLengthState = kFieldInitial;
    int64_t m_contentLength = 0;
};

}  // namespace http
}  // namespace tessel
