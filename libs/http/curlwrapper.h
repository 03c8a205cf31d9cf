// CurlEasyWrapper: one transfer over libcurl (one easy handle, used by one thread for one
// transfer), and ECurl, raised when libcurl cannot give us a handle. Sessions create the
// wrappers (curlsession.h); the handle stays opaque so that libcurl never reaches a public
// header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "base/proxy.h"
#include "base/string.h"
#include "http/response.h"

namespace tessel {
namespace http {

TESSEL_DECLARE_EXCEPTION(ECurl, Exception);

class CurlEasyWrapper {
public:
    // libcurl's write callback: `count` items of `size` bytes at `data` for `target`; returns
    // the bytes taken (anything else aborts the transfer with a write error).
    using BodyFunction = size_t (*)(char* data, size_t size, size_t count, void* target);
    static constexpr size_t kErrorSize = 256;  // libcurl's CURL_ERROR_SIZE
    // The result code of a transfer whose body outgrew its limit (libcurl's
    // CURLE_FILESIZE_EXCEEDED), whether the server announced the size or not.
    static constexpr int kResultTooLarge = 63;

    // The protocols a transfer may use, for its own address and for any redirect.
    enum class Protocols {
        kHttpsOnly,    // everything made for the gateway
        kHttpOrHttps,  // proxy auto-config scripts, commonly served over plain HTTP
    };

    // A fresh easy handle with its error buffer registered. Raises ECurl (after the log line
    // "Cannot init CURL context") when libcurl cannot create one.
    CurlEasyWrapper();
    ~CurlEasyWrapper();
    CurlEasyWrapper(const CurlEasyWrapper&) = delete;
    CurlEasyWrapper& operator=(const CurlEasyWrapper&) = delete;

    // Proxy options of the next transfer: type 0, 1, 2 go through the proxy with its
    // credentials; type 3 (none) forces a direct connection. Raises Exception (after the log
    // line "unknown proxy type") for any other type.
    void setProxy(const Proxy& proxy);

    // Performs one transfer of `url`, handing the body to `body(…, target)`. A non-empty
    // `postFields` makes it a POST of those bytes, otherwise it is a GET. True when the
    // transfer completed, whatever the HTTP status; a transport error is logged at level ERROR.
    // Only the allowed protocols are spoken (an address without a scheme is taken as https),
    // TLS below 1.2 is refused, and a body longer than the limit fails the transfer with
    // kResultTooLarge.
    bool request(const String& url, BodyFunction body, void* target, const String& postFields);

    bool verify() const { return m_verify; }
    void setVerify(bool verify) { m_verify = verify; }
    const String& userAgent() const { return m_userAgent; }
    void setUserAgent(const String& agent) { m_userAgent = agent; }
    // Limits of the transfer: seconds to connect, and seconds under 1 byte/s before it is
    // abandoned; 0 switches a limit off.
    void setTimeouts(uint32_t connectSeconds, uint32_t lowSpeedSeconds) {
        m_connectTimeout = connectSeconds;
        m_lowSpeedTime = lowSpeedSeconds;
    }

    Protocols protocols() const { return m_protocols; }
    void setProtocols(Protocols protocols) { m_protocols = protocols; }
    // Largest body the transfer takes, in bytes; 0: no limit of its own.
    uint64_t maxBodySize() const { return m_maxBodySize; }
    void setMaxBodySize(uint64_t bytes) { m_maxBodySize = bytes; }

    // The outcome of the last transfer: libcurl's result code, its text and the error buffer.
    int resultCode() const { return m_result; }
    String resultText() const;
    String errorText() const;
    // The header of the last response received (after interim responses and a proxy's
    // CONNECT reply, the final one).
    ResponseHeader& responseHeader() { return m_header; }

    // The libcurl handle (CURL*), for the session that attaches its share handle.
    void* handle() const { return m_handle; }

private:
    static size_t headerLine(char* data, size_t size, size_t count, void* target);
    static size_t countedBody(char* data, size_t size, size_t count, void* wrapper);

    void* m_handle = nullptr;
    bool m_verify = true;
    char m_error[kErrorSize] = {};
    int m_result = 0;
    String m_userAgent;
    ResponseHeader m_header;
    uint32_t m_connectTimeout = 0;
    uint32_t m_lowSpeedTime = 0;
    Protocols m_protocols = Protocols::kHttpsOnly;
    uint64_t m_maxBodySize = 0;
    // The caller's body function and target while a transfer runs, and what it received.
    BodyFunction m_body = nullptr;
    void* m_bodyTarget = nullptr;
    uint64_t m_bodyReceived = 0;
    bool m_bodyTooLarge = false;
};

}  // namespace http
}  // namespace tessel
