// The sample tunnel plugin's exports: each one forwards to the plugin object behind the
// handle. When VEXLAN_TUNNEL_TRACE names a file, every call (but the status polls) is appended
// to it as one line, for the tests.
#define VEXLAN_PLUGIN_COMPONENT
#include "vexlanclient/pluginabi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "tunnel.h"

namespace {

std::mutex g_textsMutex;
std::set<const char*> g_texts;  // handed out and not yet given back

void trace(const std::string& line) {
    static std::mutex mutex;
    const char* path = std::getenv("VEXLAN_TUNNEL_TRACE");
    if (!path || !*path)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out, "%s\n", line.c_str());
        std::fclose(out);
    }
}

tunnel::Tunnel* plugin(void* handle) {
    return static_cast<tunnel::Tunnel*>(handle);
}

int set(const char* name, void* handle, const char* value) {
    if (!handle)
        return 0;
    std::string text = value ? value : "";
    // Secrets stay out of the trace.
    if (std::strcmp(name, "DllSetCertPassword2") == 0)
        text = "***";
    if (std::strcmp(name, "DllSetProxy2") == 0)
        text = tunnel::maskedProxy(text);
    trace(std::string(name) + " " + text);
    plugin(handle)->set(name, value);
    return 1;
}

const char* handOut(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy)
        return nullptr;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    std::lock_guard<std::mutex> lock(g_textsMutex);
    g_texts.insert(copy);
    return copy;
}

}  // namespace

extern "C" {

void* DllCreatePluginFrontal(void) {
    trace("DllCreatePluginFrontal");
    return new tunnel::Tunnel();  // lives as long as the process: there is no destroy export
}

int DllSetDllVersion2(void* h, const char* v) {
    return set("DllSetDllVersion2", h, v);
}
int DllSetPluginDir2(void* h, const char* v) {
    return set("DllSetPluginDir2", h, v);
}
int DllSetLogin2(void* h, const char* v) {
    return set("DllSetLogin2", h, v);
}
int DllSetOrganization2(void* h, const char* v) {
    return set("DllSetOrganization2", h, v);
}
int DllSetHostname2(void* h, const char* v) {
    return set("DllSetHostname2", h, v);
}
int DllSetServer2(void* h, const char* v) {
    return set("DllSetServer2", h, v);
}
int DllSetSuffix2(void* h, const char* v) {
    return set("DllSetSuffix2", h, v);
}
int DllSetTicket2(void* h, const char* v) {
    return set("DllSetTicket2", h, v);
}
int DllSetSessionId2(void* h, const char* v) {
    return set("DllSetSessionId2", h, v);
}
int DllSetCertDirectory2(void* h, const char* v) {
    return set("DllSetCertDirectory2", h, v);
}
int DllSetCertFileName2(void* h, const char* v) {
    return set("DllSetCertFileName2", h, v);
}
int DllSetCaFileName2(void* h, const char* v) {
    return set("DllSetCaFileName2", h, v);
}
int DllSetCertPassword2(void* h, const char* v) {
    return set("DllSetCertPassword2", h, v);
}
int DllSetProxy2(void* h, const char* v) {
    return set("DllSetProxy2", h, v);
}

int DllSetDownloadDelegate2(void* h, VexlanDownloadDelegate* delegate) {
    if (!h)
        return 0;
    trace(std::string("DllSetDownloadDelegate2 ") + (delegate ? "set" : "null"));
    plugin(h)->setDelegate(delegate);
    return 1;
}

int DllAddSslServerCertificateName(void* h, const char* name) {
    if (!h)
        return 0;
    trace(std::string("DllAddSslServerCertificateName ") + (name ? name : ""));
    plugin(h)->addServerName(name);
    return 1;
}

const char* DllGetLogs2(void* h) {
    if (!h)
        return nullptr;
    trace("DllGetLogs2");
    return handOut(plugin(h)->logs());
}

int DllExecute2(void* h, const char* command, const char* second, const char* third) {
    if (!h)
        return 0;
    trace(std::string("DllExecute2 ") + (command ? command : "") + "|" + (second ? second : "") +
          "|" + (third ? third : ""));
    plugin(h)->execute(command ? command : "");
    return 1;
}

const char* DllGetErrors2(void* h) {
    if (!h)
        return nullptr;
    return handOut(plugin(h)->errors());
}

int DllStart2(void* h) {
    if (!h)
        return 0;
    trace("DllStart2");
    plugin(h)->start();
    return 1;
}

int DllStop2(void* h) {
    if (!h)
        return 0;
    trace("DllStop2");
    plugin(h)->stop();
    return 1;
}

int DllReleaseStr(const char* text) {
    {
        std::lock_guard<std::mutex> lock(g_textsMutex);
        // Only texts this component handed out, each once.
        if (g_texts.erase(text) == 0)
            return 0;
    }
    std::free(const_cast<char*>(text));
    return 1;
}

int LaunchSafeResource(void* h, int32_t safetype, const char* service) {
    // A tunnel has no resource to launch; the call is only traced.
    if (!h)
        return 0;
    trace("LaunchSafeResource " + std::to_string(safetype) + " " + (service ? service : ""));
    return 1;
}

}  // extern "C"
