// PluginDllInstance: a loaded plugin component, the one plugin object it created, and one
// operation per export (see pluginabi.h for the exports and their types), so that the plugin
// sub-clients never touch a raw export.
//
// Ownership: a plugin component may keep threads of its own running and offers no way to
// destroy its plugin object, so a plugin library must stay loaded until the process ends:
// the sub-clients hand their instance to keepLoaded() and never delete it. Deleting an
// instance (as the tests do with components that start no thread) frees the library.
//
// Threads: every operation calls into the component and is meant for the client thread, one
// call at a time. Errors: construction raises EModuleLoader or EPluginDllInstance after its
// log line; the operations raise nothing of their own.
#pragma once

#include <cstdint>
#include <vector>

#include "base/string.h"
#include "vexlanclient/moduleloader.h"
#include "vexlanclient/pluginabi.h"

namespace tessel {
class Proxy;
}

namespace vexlan {

// Everything configureAndStart hands to the plugin, in the order of the calls it feeds.
struct PluginParameters {
    tessel::String login;
    tessel::String organisation;
    tessel::String hostname;
    tessel::String server;
    tessel::String suffix;
    tessel::String ticket;
    tessel::String sessionId;
    tessel::String certificateDirectory;
    tessel::String certificateFileName;
    tessel::String caFileName;
    tessel::String certificatePassword;
    std::vector<tessel::String> sslServerCertificateNames;
    VexlanDownloadDelegate* downloadDelegate = nullptr;
};

class PluginDllInstance : public ModuleLoader {
public:
    // Loads the library at `path`, resolves the exports in their table order (a missing
    // mandatory one raises EModuleLoader and frees the library again; a missing
    // "LaunchSafeResource" or "DllAddSslServerCertificateName" is logged and disables it),
    // creates the plugin object (null: "Unable to create dll instance !", EPluginDllInstance)
    // and gives it `version` and the plugin folder `directory`.
    PluginDllInstance(const tessel::String& path, const tessel::String& version,
                      const tessel::String& directory);
    ~PluginDllInstance() override = default;

    // The setters from login to the download delegate, then each SSL server certificate name
    // (when the component takes them), then "DllStart2".
    void configureAndStart(const PluginParameters& parameters);
    // Hands the plugin the proxy as "1|type|address|login|password|domain|save:no", the type
    // being "socks4", "socks5", "https", or "no" for any other kind.
    void setProxy(const tessel::Proxy& proxy);
    // The plugin's status report ("DllGetErrors2"), copied and released; empty for null.
    tessel::String getErrors();
    // The plugin's commands ("DllGetLogs2"), copied and released; empty for null.
    tessel::String getLogs();
    // "DllExecute2" with `command` and two empty texts.
    void execute(const tessel::String& command);
    // Gives the download delegate, then (when the component has it) "LaunchSafeResource".
    void launchSafeResource(int32_t safetype, const tessel::String& service,
                            VexlanDownloadDelegate* delegate);
    // "DllStop2".
    void stop();

    // The proxy text setProxy hands over.
    static tessel::String proxyText(const tessel::Proxy& proxy);

    void* handle() const { return m_handle; }
    bool hasLaunchSafeResource() const { return m_launchSafeResource != nullptr; }
    bool hasAddSslServerCertificateName() const { return m_addSslServerCertificateName != nullptr; }

private:
    tessel::String takeText(VexlanGetText* function);

    void* m_handle = nullptr;
    VexlanCreatePluginFrontal* m_createPluginFrontal;
    VexlanSetText* m_setDllVersion;
    VexlanSetText* m_setPluginDir;
    VexlanSetText* m_setLogin;
    VexlanSetText* m_setOrganization;
    VexlanSetText* m_setHostname;
    VexlanSetText* m_setServer;
    VexlanSetText* m_setSuffix;
    VexlanSetText* m_setTicket;
    VexlanSetText* m_setSessionId;
    VexlanSetText* m_setCertDirectory;
    VexlanSetText* m_setCertFileName;
    VexlanSetText* m_setCaFileName;
    VexlanSetText* m_setCertPassword;
    VexlanSetDownloadDelegate* m_setDownloadDelegate;
    VexlanSetText* m_setProxy;
    VexlanGetText* m_getLogs;
    VexlanExecute* m_execute;
    VexlanGetText* m_getErrors;
    VexlanHandleCall* m_start;
    VexlanHandleCall* m_stop;
    VexlanReleaseText* m_releaseStr;
    VexlanLaunchSafeResource* m_launchSafeResource = nullptr;  // optional
    VexlanSetText* m_addSslServerCertificateName = nullptr;    // optional
};

// Keeps `instance` (and so its library) alive until the process ends; it is never deleted.
// Takes ownership. Any thread.
void keepLoaded(PluginDllInstance* instance);

}  // namespace vexlan
