// A transfer session whose two per-request answers the test chooses.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "http/curlsession.h"

namespace vexlan::testing {

class TestSession : public tessel::http::CurlSession {
public:
    bool verifyCertificate(const tessel::String& url) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_asked.push_back(url.toStd());
        return m_verify;
    }
    tessel::Proxy proxyFor(const tessel::String&) override {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_proxy;
    }

    void setVerify(bool verify) { m_verify = verify; }
    void setProxy(const tessel::Proxy& proxy) { m_proxy = proxy; }
    // The URLs the session was asked about, in order.
    std::vector<std::string> asked() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_asked;
    }

private:
    std::mutex m_lock;
    bool m_verify = false;
    tessel::Proxy m_proxy;
    std::vector<std::string> m_asked;
};

inline std::string text(const tessel::Buffer& body) {
    return std::string(reinterpret_cast<const char*>(body.data()), body.length());
}

}  // namespace vexlan::testing
