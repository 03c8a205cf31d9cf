// The outcome of one transfer as callers keep it: libcurl's result code and texts and the
// response header. Filled by the session's request operations (curlsession.h).
#pragma once

#include "base/string.h"
#include "http/response.h"

namespace tessel {
namespace http {

class CurlEasyWrapper;

class IRequestInfo {
public:
    // "Code: " and the result code, then "(" library text ")" when there is one, then a line
    // feed and the error buffer's text when there is one.
    virtual String toString() const = 0;
    virtual ~IRequestInfo() = default;
    // Copies the outcome of the wrapper's last transfer.
    virtual void fill(CurlEasyWrapper& easy) = 0;
};

class RequestInfo : public IRequestInfo {
public:
    String toString() const override;
    void fill(CurlEasyWrapper& easy) override;

    int code() const { return m_code; }
    const String& text() const { return m_text; }
    const String& error() const { return m_error; }
    ResponseHeader& header() { return m_header; }
    const ResponseHeader& header() const { return m_header; }
    // The HTTP status of the response, read from its status line on first use; 0 when no
    // status line was received.
    int statusCode();

private:
    int m_code = 0;
    String m_text;
    String m_error;
    ResponseHeader m_header;
};

}  // namespace http
}  // namespace tessel
