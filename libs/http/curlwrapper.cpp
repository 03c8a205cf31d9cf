#include "http/curlwrapper.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/console.h"
#include "base/fixedpositions.h"
#include "http/curllibrary.h"
#include "http/curlwrapper_platform.h"

namespace tessel {
namespace http {
namespace {

static_assert(CurlEasyWrapper::kErrorSize == CURL_ERROR_SIZE, "error buffer size");
static_assert(CurlEasyWrapper::kResultTooLarge == CURLE_FILESIZE_EXCEEDED, "too large code");

CURL* easy(void* handle) {
    return static_cast<CURL*>(handle);
}

// A received header line without its line end.
String withoutLineEnd(const char* data, size_t length) {
    while (length > 0 && (data[length - 1] == '\n' || data[length - 1] == '\r'))
        --length;
    return String::copy(data, static_cast<uint32_t>(length));
}

}  // namespace

CurlEasyWrapper::CurlEasyWrapper() {
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    m_handle = libcurl.easyInit();
    if (!m_handle) {
        log(2, "DownloadManager", "downloadFileTo", "Cannot init CURL context");
        TESSEL_THROW_AT(ECurl, fixed::kCurlWrapper);
    }
    libcurl.easySetopt(easy(m_handle), CURLOPT_ERRORBUFFER, m_error);
}

CurlEasyWrapper::~CurlEasyWrapper() {
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    libcurl.easyCleanup(easy(m_handle));
}

String CurlEasyWrapper::resultText() const {
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    return String(libcurl.easyStrerror(static_cast<CURLcode>(m_result)));
}

String CurlEasyWrapper::errorText() const {
    return String::copy(m_error, static_cast<uint32_t>(strnlen(m_error, sizeof(m_error))));
}

void CurlEasyWrapper::setProxy(const Proxy& proxy) {
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    CURL* curl = easy(m_handle);
    switch (proxy.type()) {
        case Proxy::kSocks4:
            libcurl.easySetopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_SOCKS4));
            break;
        case Proxy::kSocks5:
            libcurl.easySetopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_SOCKS5));
            break;
        case Proxy::kHttps:
            libcurl.easySetopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
            break;
        case Proxy::kNone:
            // The empty text, not null: null would let libcurl read the proxy variables of
            // the environment itself, behind the back of proxy discovery.
            libcurl.easySetopt(curl, CURLOPT_PROXY, "");
            return;
        default:
            log(2, "CurlEasyWrapper", "setProxy", "unknown proxy type");
            TESSEL_THROW(Exception);
    }
    // libcurl copies every string option, so the proxy's texts need not outlive the call.
    libcurl.easySetopt(curl, CURLOPT_PROXY, proxy.address().c_str());
    libcurl.easySetopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
    libcurl.easySetopt(curl, CURLOPT_PROXYUSERNAME, proxy.credentials().login().c_str());
    libcurl.easySetopt(curl, CURLOPT_PROXYPASSWORD, proxy.credentials().password().c_str());
}

size_t CurlEasyWrapper::headerLine(char* data, size_t size, size_t count, void* target) {
    auto* header = static_cast<ResponseHeader*>(target);
    size_t length = size * count;
    // Every status line starts a new header, so that after interim responses (100 Continue)
    // and a proxy's CONNECT reply the last one wins. HTTP/2 status lines count too.
    if (length > 6 && std::memcmp(data, "HTTP/", 5) == 0) {
        *header = ResponseHeader(withoutLineEnd(data, length) + "\r\n\r\n");
    } else {
        String line = withoutLineEnd(data, length);
        if (!line.isEmpty())
            header->appendLine(line);
    }
    return length;
}

size_t CurlEasyWrapper::countedBody(char* data, size_t size, size_t count, void* wrapper) {
    auto* self = static_cast<CurlEasyWrapper*>(wrapper);
    size_t n = size * count;
    if (n > self->m_maxBodySize - self->m_bodyReceived) {
        self->m_bodyTooLarge = true;
        return 0;  // libcurl aborts the transfer
    }
    self->m_bodyReceived += n;
    return self->m_body(data, size, count, self->m_bodyTarget);
}

bool CurlEasyWrapper::request(const String& url, BodyFunction body, void* target,
                              const String& postFields) {
    m_header.reset();
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    m_error[0] = '\0';
    CURL* curl = easy(m_handle);
    libcurl.easySetopt(curl, CURLOPT_URL, url.c_str());
    // Only the protocols we chose, also after a redirect: a hostile address must not reach
    // local services (gopher, dict), local files or a clear-text server.
    const char* protocols = m_protocols == Protocols::kHttpsOnly ? "https" : "http,https";
    libcurl.easySetopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    libcurl.easySetopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    libcurl.easySetopt(curl, CURLOPT_DEFAULT_PROTOCOL, "https");
    libcurl.easySetopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    // A body beyond the limit fails early when the server announces its size, and is cut
    // off while it arrives when it does not.
    m_body = body;
    m_bodyTarget = target;
    m_bodyReceived = 0;
    m_bodyTooLarge = false;
    libcurl.easySetopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                       static_cast<curl_off_t>(std::min<uint64_t>(m_maxBodySize, INT64_MAX)));
    if (m_maxBodySize > 0) {
        libcurl.easySetopt(curl, CURLOPT_WRITEFUNCTION, &CurlEasyWrapper::countedBody);
        libcurl.easySetopt(curl, CURLOPT_WRITEDATA, this);
    } else {
        libcurl.easySetopt(curl, CURLOPT_WRITEFUNCTION, body);
        libcurl.easySetopt(curl, CURLOPT_WRITEDATA, target);
    }
    libcurl.easySetopt(curl, CURLOPT_HEADERFUNCTION, &CurlEasyWrapper::headerLine);
    libcurl.easySetopt(curl, CURLOPT_HEADERDATA, &m_header);
    if (!m_userAgent.isEmpty())
        libcurl.easySetopt(curl, CURLOPT_USERAGENT, m_userAgent.c_str());
    libcurl.easySetopt(curl, CURLOPT_SSL_VERIFYHOST, m_verify ? 2L : 0L);
    libcurl.easySetopt(curl, CURLOPT_SSL_VERIFYPEER, m_verify ? 1L : 0L);
    libcurl.easySetopt(curl, CURLOPT_CERTINFO, 1L);
    libcurl.easySetopt(curl, CURLOPT_SSL_OPTIONS,
                       static_cast<long>(CURLSSLOPT_NO_REVOKE) | detail::trustAnchorSslOptions());
    if (!postFields.isEmpty()) {
        // The size is given so that bodies holding zero bytes are sent whole; libcurl does
        // not copy POSTFIELDS, and `postFields` lives until perform returns.
        libcurl.easySetopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                           static_cast<curl_off_t>(postFields.length()));
        libcurl.easySetopt(curl, CURLOPT_POSTFIELDS, postFields.data());
    }
    // Shared cookies are only sent by handles whose cookie engine is on; "" reads no file.
    libcurl.easySetopt(curl, CURLOPT_COOKIEFILE, "");
    // A transfer never waits forever: bounded connection, and abandoned when it moves less
    // than 1 byte/s for the low-speed time.
    libcurl.easySetopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_connectTimeout));
    libcurl.easySetopt(curl, CURLOPT_LOW_SPEED_LIMIT, m_lowSpeedTime ? 1L : 0L);
    libcurl.easySetopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_lowSpeedTime));
    // Several threads transfer at once: no signals for name-lookup time-outs.
    libcurl.easySetopt(curl, CURLOPT_NOSIGNAL, 1L);

    m_result = libcurl.easyPerform(curl);
    if (m_bodyTooLarge)
        m_result = CURLE_FILESIZE_EXCEEDED;
    if (m_result == CURLE_OK)
        return true;
    log(2, "CurlEasyWrapper", "request",
        resultText() + " (#" + String(static_cast<int32_t>(m_result)) + ") [" + errorText() + "]");
    return false;
}

}  // namespace http
}  // namespace tessel
