#include "http/curlsession.h"

#include <algorithm>
#include <cstring>

#include "base/console.h"
#include "base/fixedpositions.h"
#include "http/curllibrary.h"

namespace tessel {
namespace http {
namespace {

CURL* easy(const CurlEasyWrapper& wrapper) {
    return static_cast<CURL*>(wrapper.handle());
}

struct BufferTarget {
    Buffer* buffer;
    uint32_t received;  // body bytes of this transfer so far
    uint32_t reserved;  // bytes the buffer holds room for
    bool tooLarge;
};

size_t toBuffer(char* data, size_t size, size_t count, void* target) {
    auto* t = static_cast<BufferTarget*>(target);
    size_t n = size * count;
    if (n > CurlSession::kMaxBufferBody - t->received) {
        t->tooLarge = true;
        return 0;
    }
    try {
        Buffer& buffer = *t->buffer;
        uint32_t length = buffer.length();
        // Room grows geometrically, so that a body arriving in many small blocks is copied a
        // bounded number of times.
        uint32_t room = static_cast<uint32_t>(n);
        if (length + room > t->reserved) {
            room = std::max(room, std::min(t->received, CurlSession::kMaxBufferBody - t->received));
            t->reserved = length + room;
        }
        unsigned char* out = buffer.reserveAppend(room);
        std::memcpy(out, data, n);
        buffer.setLength(length + static_cast<uint32_t>(n));
    } catch (...) {
        // Out of memory: nothing may unwind through libcurl's C frames.
        return 0;
    }
    t->received += static_cast<uint32_t>(n);
    return n;
}

size_t toWriter(char* data, size_t size, size_t count, void* target) {
    size_t n = size * count;
    try {
        static_cast<IWriter*>(target)->write(data, static_cast<int>(n));
    } catch (const Exception&) {
        return 0;
    } catch (...) {
        // Nothing may unwind through libcurl's C frames.
        return 0;
    }
    return n;
}

}  // namespace

// libcurl's lock callbacks: one session mutex for every kind of shared data.
struct CurlSessionAccess {
    static void lock(CURL*, curl_lock_data, curl_lock_access, void* session) {
        static_cast<CurlSession*>(session)->m_mutex.lock();
    }
    static void unlock(CURL*, curl_lock_data, void* session) {
        static_cast<CurlSession*>(session)->m_mutex.unlock();
    }
};

// libcurl is loaded, and the handles made, by the first transfer or cookie: a program that holds
// a session from its start does not load libcurl before it needs it.
CurlSession::CurlSession() = default;

CurlSession::~CurlSession() {
    if (!m_share)
        return;  // never used
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    // The own handle leaves the share first: a share still in use is not released.
    libcurl.easySetopt(easy(*m_own), CURLOPT_SHARE, nullptr);
    libcurl.shareCleanup(static_cast<CURLSH*>(m_share));
    m_own.reset();
}

void* CurlSession::shareHandle() {
    ScopeLock lock(m_handlesMutex);
    if (m_share)
        return m_share;
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    auto own = std::make_unique<CurlEasyWrapper>();
    CURLSH* share = libcurl.shareInit();
    if (!share) {
        log(2, "CurlSession", "CurlSession", "Cannot init CURL SHARE context");
        TESSEL_THROW_AT(ECurl, fixed::kCurlWrapper);
    }
    libcurl.shareSetopt(share, CURLSHOPT_USERDATA, this);
    libcurl.shareSetopt(share, CURLSHOPT_LOCKFUNC, &CurlSessionAccess::lock);
    libcurl.shareSetopt(share, CURLSHOPT_UNLOCKFUNC, &CurlSessionAccess::unlock);
    libcurl.shareSetopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    libcurl.shareSetopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    libcurl.shareSetopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    libcurl.easySetopt(easy(*own), CURLOPT_SHARE, share);
    libcurl.easySetopt(easy(*own), CURLOPT_COOKIEFILE, "");
    m_own = std::move(own);
    m_share = share;
    return share;
}

bool CurlSession::verifyCertificate(const String&) {
    return true;
}

Proxy CurlSession::proxyFor(const String&) {
    return Proxy();
}

std::unique_ptr<CurlEasyWrapper> CurlSession::createEasy() {
    CURLSH* share = static_cast<CURLSH*>(shareHandle());
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    auto wrapper = std::make_unique<CurlEasyWrapper>();
    libcurl.easySetopt(easy(*wrapper), CURLOPT_SHARE, share);
    ScopeLock lock(m_settingsMutex);
    wrapper->setUserAgent(m_userAgent);
    wrapper->setTimeouts(m_connectTimeout, m_lowSpeedTime);
    wrapper->setProtocols(m_protocols);
    return wrapper;
}

void CurlSession::addCookie(const Cookie& cookie) {
    shareHandle();
    const detail::CurlFunctions& libcurl = detail::curlLibrary();
    String line = "Set-Cookie: " + cookie.toString();
    ScopeLock lock(m_mutex);
    libcurl.easySetopt(easy(*m_own), CURLOPT_COOKIELIST, line.c_str());
}

String CurlSession::userAgent() const {
    ScopeLock lock(m_settingsMutex);
    return m_userAgent;
}

void CurlSession::setUserAgent(const String& agent) {
    ScopeLock lock(m_settingsMutex);
    m_userAgent = agent.copy();
}

void CurlSession::setTimeouts(uint32_t connectSeconds, uint32_t lowSpeedSeconds) {
    ScopeLock lock(m_settingsMutex);
    m_connectTimeout = connectSeconds;
    m_lowSpeedTime = lowSpeedSeconds;
}

String CurlSession::gatewayAuthority() const {
    ScopeLock lock(m_settingsMutex);
    return m_gatewayAuthority;
}

void CurlSession::setGatewayAuthority(const String& authority) {
    ScopeLock lock(m_settingsMutex);
    m_gatewayAuthority = authority.copy();
}

CurlEasyWrapper::Protocols CurlSession::protocols() const {
    ScopeLock lock(m_settingsMutex);
    return m_protocols;
}

void CurlSession::setProtocols(CurlEasyWrapper::Protocols protocols) {
    ScopeLock lock(m_settingsMutex);
    m_protocols = protocols;
}

uint64_t CurlSession::maxDownload() const {
    ScopeLock lock(m_settingsMutex);
    return m_maxDownload;
}

void CurlSession::setMaxDownload(uint64_t bytes) {
    ScopeLock lock(m_settingsMutex);
    m_maxDownload = std::max<uint64_t>(bytes, 1);
}

bool CurlSession::perform(IRequestInfo* info, CurlSession& session, const String& url,
                          CurlEasyWrapper::BodyFunction body, void* target,
                          const String& postFields, uint64_t maxBody) {
    std::unique_ptr<CurlEasyWrapper> wrapper = session.createEasy();
    wrapper->setMaxBodySize(maxBody);
    wrapper->setVerify(session.verifyCertificate(url));
    wrapper->setProxy(session.proxyFor(url));
    bool ok = wrapper->request(url, body, target, postFields);
    if (!ok && maxBody > 0 && wrapper->resultCode() == CurlEasyWrapper::kResultTooLarge) {
        log(2, "CurlSession", "requestToFile",
            "reply body larger than " + String(maxBody) + " bytes from " + url);
    }
    if (info)
        info->fill(*wrapper);
    return ok;
}

bool CurlSession::requestToBuffer(IRequestInfo* info, CurlSession& session, const String& url,
                                  Buffer& body, const String& postFields) {
    BufferTarget target{&body, 0, 0, false};
    bool ok = perform(info, session, url, toBuffer, &target, postFields, 0);
    if (target.tooLarge) {
        log(2, "CurlSession", "requestToBuffer",
            "reply body larger than " + String(kMaxBufferBody) + " bytes from " + url);
    }
    return ok;
}

bool CurlSession::requestToFile(IRequestInfo* info, CurlSession& session, const String& url,
                                IWriter& writer) {
    return perform(info, session, url, toWriter, &writer, String(), session.maxDownload());
}

}  // namespace http
}  // namespace tessel
