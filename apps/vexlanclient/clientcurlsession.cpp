#include "vexlanclient/clientcurlsession.h"

#include "base/console.h"
#include "base/exception.h"
#include "http/ieproxy.h"
#include "http/uri.h"

using tessel::ScopeLock;
using tessel::String;

namespace vexlan {

// ---------------------------------------------------------------------------------------------
// SharedLocalConfiguration

ClientLocalConfiguration SharedLocalConfiguration::get() const {
    ScopeLock lock(m_mutex);
    return m_settings;
}

void SharedLocalConfiguration::set(const ClientLocalConfiguration& settings) {
    ScopeLock lock(m_mutex);
    m_settings = settings;
}

void SharedLocalConfiguration::readFromFile(const String& path) {
    // Read into a copy outside the lock: a file read must not hold up the transfers.
    ClientLocalConfiguration settings = get();
    settings.readFromFile(path);
    set(settings);
}

void SharedLocalConfiguration::writeToFile(const String& path) const {
    ClientLocalConfiguration settings = get();
    settings.writeToFile(path);
}

bool SharedLocalConfiguration::isCertificateException(const String& authority) const {
    ScopeLock lock(m_mutex);
    for (const String& entry : m_settings.certificateExceptions()) {
        if (entry == authority)
            return true;
    }
    return false;
}

tessel::Credentials SharedLocalConfiguration::proxyCredentials() const {
    ScopeLock lock(m_mutex);
    return m_settings.proxyCredentials();
}

bool SharedLocalConfiguration::hostCheckerDownload() const {
    ScopeLock lock(m_mutex);
    return m_settings.hostCheckerDownload();
}

bool SharedLocalConfiguration::pluginDownload() const {
    ScopeLock lock(m_mutex);
    return m_settings.pluginDownload();
}

// ---------------------------------------------------------------------------------------------
// VexlanClientCurlSession

VexlanClientCurlSession::VexlanClientCurlSession(const SharedLocalConfiguration* settings)
    : m_localConfiguration(settings) {}

bool VexlanClientCurlSession::verifyCertificate(const String& url) {
    try {
        tessel::http::Uri uri(url, false);
        return !m_localConfiguration->isCertificateException(uri.getAuthority());
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
        return true;
    }
}

tessel::Proxy VexlanClientCurlSession::proxyFor(const String& url) {
    tessel::Proxy proxy;
    try {
        tessel::http::IEProxy::getIEProxy(proxy, url);
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
        proxy = tessel::Proxy();
    }
    proxy.setCredentials(m_localConfiguration->proxyCredentials());
    return proxy;
}

}  // namespace vexlan
