#include "vexlanclient/plugindllinstance.h"

#include <cstring>
#include <mutex>

#include "base/console.h"
#include "base/exception.h"
#include "base/proxy.h"

using tessel::String;

namespace vexlan {
namespace {

constexpr const char* kClassName = "PluginDllInstance";

}  // namespace

PluginDllInstance::PluginDllInstance(const String& path, const String& version,
                                     const String& directory)
    : ModuleLoader(path),
      // Resolved in the order of the export table; the first missing one raises.
      m_createPluginFrontal(getFunction<VexlanCreatePluginFrontal*>("DllCreatePluginFrontal")),
      m_setDllVersion(getFunction<VexlanSetText*>("DllSetDllVersion2")),
      m_setPluginDir(getFunction<VexlanSetText*>("DllSetPluginDir2")),
      m_setLogin(getFunction<VexlanSetText*>("DllSetLogin2")),
      m_setOrganization(getFunction<VexlanSetText*>("DllSetOrganization2")),
      m_setHostname(getFunction<VexlanSetText*>("DllSetHostname2")),
      m_setServer(getFunction<VexlanSetText*>("DllSetServer2")),
      m_setSuffix(getFunction<VexlanSetText*>("DllSetSuffix2")),
      m_setTicket(getFunction<VexlanSetText*>("DllSetTicket2")),
      m_setSessionId(getFunction<VexlanSetText*>("DllSetSessionId2")),
      m_setCertDirectory(getFunction<VexlanSetText*>("DllSetCertDirectory2")),
      m_setCertFileName(getFunction<VexlanSetText*>("DllSetCertFileName2")),
      m_setCaFileName(getFunction<VexlanSetText*>("DllSetCaFileName2")),
      m_setCertPassword(getFunction<VexlanSetText*>("DllSetCertPassword2")),
      m_setDownloadDelegate(getFunction<VexlanSetDownloadDelegate*>("DllSetDownloadDelegate2")),
      m_setProxy(getFunction<VexlanSetText*>("DllSetProxy2")),
      m_getLogs(getFunction<VexlanGetText*>("DllGetLogs2")),
      m_execute(getFunction<VexlanExecute*>("DllExecute2")),
      m_getErrors(getFunction<VexlanGetText*>("DllGetErrors2")),
      m_start(getFunction<VexlanHandleCall*>("DllStart2")),
      m_stop(getFunction<VexlanHandleCall*>("DllStop2")),
      m_releaseStr(getFunction<VexlanReleaseText*>("DllReleaseStr")) {
    m_launchSafeResource =
        reinterpret_cast<VexlanLaunchSafeResource*>(findProc("LaunchSafeResource"));
    if (!m_launchSafeResource) {
        tessel::log(2, kClassName, kClassName,
                    "LaunchSafeResource missing. LaunchSafeResource disabled");
    }
    m_addSslServerCertificateName =
        reinterpret_cast<VexlanSetText*>(findProc("DllAddSslServerCertificateName"));
    if (!m_addSslServerCertificateName) {
        tessel::log(2, kClassName, kClassName,
                    "DllAddSslServerCertificateName missing. SSL server certificate name "
                    "verification disabled");
    }
    m_handle = m_createPluginFrontal();
    if (!m_handle) {
        tessel::log(2, kClassName, kClassName, "Unable to create dll instance !");
        using tessel::EPluginDllInstance;
        TESSEL_THROW(EPluginDllInstance);
    }
    m_setDllVersion(m_handle, version.c_str());
    m_setPluginDir(m_handle, directory.c_str());
}

void PluginDllInstance::configureAndStart(const PluginParameters& parameters) {
    m_setLogin(m_handle, parameters.login.c_str());
    m_setOrganization(m_handle, parameters.organisation.c_str());
    m_setHostname(m_handle, parameters.hostname.c_str());
    m_setServer(m_handle, parameters.server.c_str());
    m_setSuffix(m_handle, parameters.suffix.c_str());
    m_setTicket(m_handle, parameters.ticket.c_str());
    m_setSessionId(m_handle, parameters.sessionId.c_str());
    m_setCertDirectory(m_handle, parameters.certificateDirectory.c_str());
    m_setCertFileName(m_handle, parameters.certificateFileName.c_str());
    m_setCaFileName(m_handle, parameters.caFileName.c_str());
    m_setCertPassword(m_handle, parameters.certificatePassword.c_str());
    m_setDownloadDelegate(m_handle, parameters.downloadDelegate);
    if (m_addSslServerCertificateName) {
        for (const String& name : parameters.sslServerCertificateNames)
            m_addSslServerCertificateName(m_handle, name.c_str());
    }
    m_start(m_handle);
}

String PluginDllInstance::proxyText(const tessel::Proxy& proxy) {
    String type;
    switch (proxy.type()) {
        case tessel::Proxy::kSocks4:
        case tessel::Proxy::kSocks5:
        case tessel::Proxy::kHttps:
            type = tessel::Proxy::typeName(proxy.type());
            break;
        default:
            type = "no";
            break;
    }
    const tessel::Credentials& credentials = proxy.credentials();
    String text;
    text.appendAll("1|", type, '|', proxy.address(), '|', credentials.login(), '|',
                   credentials.password(), '|', credentials.domain(), "|save:no");
    return text;
}

void PluginDllInstance::setProxy(const tessel::Proxy& proxy) {
    m_setProxy(m_handle, proxyText(proxy).c_str());
}

String PluginDllInstance::takeText(VexlanGetText* function) {
    const char* text = function(m_handle);
    // A null text is nothing to copy and nothing to give back.
    if (!text)
        return String();
    String copy = String::copy(text, static_cast<uint32_t>(std::strlen(text)));
    m_releaseStr(text);
    return copy;
}

String PluginDllInstance::getErrors() {
    return takeText(m_getErrors);
}

String PluginDllInstance::getLogs() {
    return takeText(m_getLogs);
}

void PluginDllInstance::execute(const String& command) {
    m_execute(m_handle, command.c_str(), "", "");
}

void PluginDllInstance::launchSafeResource(int32_t safetype, const String& service,
                                           VexlanDownloadDelegate* delegate) {
    m_setDownloadDelegate(m_handle, delegate);
    if (m_launchSafeResource)
        m_launchSafeResource(m_handle, safetype, service.c_str());
}

void PluginDllInstance::stop() {
    m_stop(m_handle);
}

void keepLoaded(PluginDllInstance* instance) {
    // Reachable for the whole life of the process (so leak checkers do not report it), and
    // never destroyed: static destructors at exit must not unload a library whose threads
    // may still run.
    static std::mutex* mutex = new std::mutex;
    static std::vector<PluginDllInstance*>* kept = new std::vector<PluginDllInstance*>;
    std::lock_guard<std::mutex> lock(*mutex);
    kept->push_back(instance);
}

}  // namespace vexlan
