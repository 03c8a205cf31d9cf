// CurlSession: the one transfer session of the program. It owns a libcurl share handle, so
// that every transfer shares cookies, DNS results and TLS sessions, and asks two virtual
// questions before each transfer: whether to check the server's certificate, and which proxy
// to use. Subclasses answer them from the user's settings.
//
// Threading: one session is shared by every thread of the program. The share handle's data
// and the cookie list are guarded by the session's mutex; each transfer has an easy handle of
// its own. Settings (user agent, limits, gateway authority) are meant to be set before the
// transfers that use them, but reading them while another thread sets them is safe.
#pragma once

#include <cstdint>
#include <memory>

#include "base/buffer.h"
#include "base/mutex.h"
#include "base/proxy.h"
#include "base/serialize.h"
#include "base/string.h"
#include "http/curlwrapper.h"
#include "http/requestinfo.h"
#include "http/response.h"

namespace tessel {
namespace http {

class CurlSession {
public:
    static constexpr uint32_t kDefaultConnectTimeout = 30;  // seconds
    static constexpr uint32_t kDefaultLowSpeedTime = 60;    // seconds under 1 byte/s
    // Largest reply body that requestToBuffer keeps in memory.
    static constexpr uint32_t kMaxBufferBody = 16 * 1024 * 1024;
    // Largest body that requestToFile writes, unless setMaxDownload says otherwise.
    static constexpr uint64_t kDefaultMaxDownload = 256ull * 1024 * 1024;

    // Touches no libcurl: libcurl is loaded and the session's handles made by the first
    // transfer or cookie (createEasy, addCookie, requestToBuffer, requestToFile), which raise
    // ECurl (after the log line "Cannot load libcurl: ...", "Cannot init CURL SHARE context"
    // or "Cannot init CURL context") when they cannot be.
    CurlSession();
    virtual ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Asked before every transfer. The defaults check every certificate and go direct.
    virtual bool verifyCertificate(const String& url);
    virtual Proxy proxyFor(const String& url);

    // A new wrapper for one transfer, attached to the share handle, carrying the session's
    // user agent, limits and protocols. The caller owns it; it must not outlive the session.
    std::unique_ptr<CurlEasyWrapper> createEasy();

    // Puts `cookie` (its Set-Cookie form) into the shared cookie list.
    void addCookie(const Cookie& cookie);

    String userAgent() const;
    void setUserAgent(const String& agent);
    // Seconds allowed to connect, and seconds a transfer may move less than 1 byte/s before
    // it is abandoned; 0 switches a limit off.
    void setTimeouts(uint32_t connectSeconds, uint32_t lowSpeedSeconds);
    // Host and port of the gateway ("host" or "host:port", no user information). Download
    // addresses without an authority (a path relative to the gateway) are fetched with https
    // from it (DownloadManager::downloadFileTo). The client sets it from its start parameter
    // each time it sends its gateway request, before any component is downloaded; empty until
    // then, and a relative download then fails.
    String gatewayAuthority() const;
    void setGatewayAuthority(const String& authority);
    // The protocols of every transfer of the session, redirects included: https only unless
    // the session is made for proxy auto-config scripts.
    CurlEasyWrapper::Protocols protocols() const;
    void setProtocols(CurlEasyWrapper::Protocols protocols);
    // Largest body, in bytes, that requestToFile takes (kDefaultMaxDownload until set; at
    // least 1). A longer body fails the transfer with CurlEasyWrapper::kResultTooLarge.
    uint64_t maxDownload() const;
    void setMaxDownload(uint64_t bytes);

    // One transfer of `url` whose reply body is appended to `body`; a non-empty `postFields`
    // makes it a POST. A reply body larger than kMaxBufferBody fails the transfer (logged at
    // level ERROR; `body` keeps what arrived). `info` may be null. True when the transfer
    // completed (any HTTP status). Raises what proxyFor raises, and Exception for a proxy of
    // unknown type.
    static bool requestToBuffer(IRequestInfo* info, CurlSession& session, const String& url,
                                Buffer& body, const String& postFields = String());
    // One GET of `url` whose body goes to `writer` (normally a File); a writer that raises
    // aborts the transfer (false), and so does a body longer than maxDownload() (logged at
    // level ERROR). Otherwise as requestToBuffer.
    static bool requestToFile(IRequestInfo* info, CurlSession& session, const String& url,
                              IWriter& writer);

private:
    static bool perform(IRequestInfo* info, CurlSession& session, const String& url,
                        CurlEasyWrapper::BodyFunction body, void* target, const String& postFields,
                        uint64_t maxBody);
    // The share handle (CURLSH*), made with the own handle on first use.
    void* shareHandle();
    friend struct CurlSessionAccess;

    Mutex m_mutex;
    // Guards the making of the two handles; they do not change afterwards.
    Mutex m_handlesMutex;
    void* m_share = nullptr;  // CURLSH*
    std::unique_ptr<CurlEasyWrapper> m_own;
    // Guards the settings below (never held during a transfer).
    mutable Mutex m_settingsMutex;
    uint32_t m_connectTimeout = kDefaultConnectTimeout;
    uint32_t m_lowSpeedTime = kDefaultLowSpeedTime;
    String m_userAgent;
    String m_gatewayAuthority;
    CurlEasyWrapper::Protocols m_protocols = CurlEasyWrapper::Protocols::kHttpsOnly;
    uint64_t m_maxDownload = kDefaultMaxDownload;
};

}  // namespace http
}  // namespace tessel
