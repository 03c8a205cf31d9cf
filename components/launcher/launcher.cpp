// The sample plugin without tunnel: "LaunchSafeResource" opens the service with the desktop's
// handler (xdg-open; on Windows the shell, for web addresses only), in a session of its own so that
// it outlives the client. The other exports accept their calls and keep nothing that matters. See
// README.md.
//
// When VEXLAN_LAUNCHER_RECORD names a file, nothing is started: the line
// "<safetype> <service>" that would have been opened is appended to that file instead.
#define VEXLAN_PLUGIN_COMPONENT
#include "vexlanclient/pluginabi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "launch_platform.h"

namespace {

struct Launcher {
    std::mutex mutex;
    std::string folder;
    VexlanDownloadDelegate* delegate = nullptr;
};

std::mutex g_textsMutex;
std::set<const char*> g_texts;

Launcher* launcher(void* handle) {
    return static_cast<Launcher*>(handle);
}

const char* handOut(const char* text) {
    size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy)
        return nullptr;
    std::memcpy(copy, text, length + 1);
    std::lock_guard<std::mutex> lock(g_textsMutex);
    g_texts.insert(copy);
    return copy;
}

// A service is handed to xdg-open as one argument: it must not look like an option or carry
// control characters.
bool acceptable(const std::string& service) {
    if (service.empty() || service[0] == '-')
        return false;
    for (unsigned char c : service) {
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

void complain(const std::string& text) {
    std::fprintf(stderr, "launcher: %s\n", text.c_str());
}

bool record(const char* path, int32_t safetype, const std::string& service) {
    FILE* out = std::fopen(path, "a");
    if (!out)
        return false;
    std::fprintf(out, "%d %s\n", static_cast<int>(safetype), service.c_str());
    return std::fclose(out) == 0;
}

}  // namespace

extern "C" {

void* DllCreatePluginFrontal(void) {
    return new Launcher();
}

int DllSetDllVersion2(void* h, const char*) {
    return h ? 1 : 0;
}

int DllSetPluginDir2(void* h, const char* folder) {
    if (!h)
        return 0;
    std::lock_guard<std::mutex> lock(launcher(h)->mutex);
    launcher(h)->folder = folder ? folder : "";
    return 1;
}

int DllSetLogin2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetOrganization2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetHostname2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetServer2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetSuffix2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetTicket2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetSessionId2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetCertDirectory2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetCertFileName2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetCaFileName2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetCertPassword2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllSetProxy2(void* h, const char*) {
    return h ? 1 : 0;
}
int DllAddSslServerCertificateName(void* h, const char*) {
    return h ? 1 : 0;
}

int DllSetDownloadDelegate2(void* h, VexlanDownloadDelegate* delegate) {
    if (!h)
        return 0;
    std::lock_guard<std::mutex> lock(launcher(h)->mutex);
    launcher(h)->delegate = delegate;
    return 1;
}

// Nothing to report and no commands: an empty array and an empty list.
const char* DllGetLogs2(void* h) {
    return h ? handOut("") : nullptr;
}
const char* DllGetErrors2(void* h) {
    return h ? handOut("[]") : nullptr;
}
int DllExecute2(void* h, const char*, const char*, const char*) {
    return h ? 1 : 0;
}
int DllStart2(void* h) {
    return h ? 1 : 0;
}
int DllStop2(void* h) {
    return h ? 1 : 0;
}

int DllReleaseStr(const char* text) {
    {
        std::lock_guard<std::mutex> lock(g_textsMutex);
        if (g_texts.erase(text) == 0)
            return 0;
    }
    std::free(const_cast<char*>(text));
    return 1;
}

int LaunchSafeResource(void* h, int32_t safetype, const char* service) {
    if (!h)
        return 0;
    std::string target = service ? service : "";
    if (!acceptable(target)) {
        complain("refusing to open '" + target + "'");
        return 0;
    }
    const char* recording = std::getenv("VEXLAN_LAUNCHER_RECORD");
    if (recording && *recording)
        return record(recording, safetype, target) ? 1 : 0;
    return launch(target) ? 1 : 0;
}

}  // extern "C"
