// The client's transfer session: CurlSession answering its two per-request questions from the
// user's local settings, and the lock-guarded home of those settings, which transfers read on
// the client's threads while the user interface changes them.
#pragma once

#include "base/mutex.h"
#include "base/proxy.h"
#include "base/string.h"
#include "http/curlsession.h"
#include "vexlanclient/clientlocalconfiguration.h"

namespace vexlan {

// The local settings behind a lock. Every accessor works on a copy, so a reader never sees a
// half-made change. Safe from any thread.
class SharedLocalConfiguration {
public:
    ClientLocalConfiguration get() const;
    void set(const ClientLocalConfiguration& settings);
    // See ClientLocalConfiguration::readFromFile and writeToFile (writeToFile raises).
    void readFromFile(const tessel::String& path);
    void writeToFile(const tessel::String& path) const;

    // Whether `authority` (host, or host:port) is one of the certificate exceptions,
    // compared byte for byte.
    bool isCertificateException(const tessel::String& authority) const;
    tessel::Credentials proxyCredentials() const;
    bool hostCheckerDownload() const;
    bool pluginDownload() const;

private:
    mutable tessel::Mutex m_mutex;
    ClientLocalConfiguration m_settings;
};

class VexlanClientCurlSession : public tessel::http::CurlSession {
public:
    // `settings` is not owned and must outlive the session.
    explicit VexlanClientCurlSession(const SharedLocalConfiguration* settings);

    // False when the URL's authority, byte for byte, is one of the settings' certificate
    // exceptions; true otherwise (also for a URL that cannot be parsed).
    bool verifyCertificate(const tessel::String& url) override;
    // The system proxy for the URL (direct when there is none or discovery fails), carrying
    // the settings' proxy credentials.
    tessel::Proxy proxyFor(const tessel::String& url) override;

private:
    const SharedLocalConfiguration* m_localConfiguration;
};

}  // namespace vexlan
