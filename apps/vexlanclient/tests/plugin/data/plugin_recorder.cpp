// A plugin component for the tests: it records every call of its exports with its arguments,
// and answers "DllGetErrors2" and "DllGetLogs2" from queues the test fills. Built in
// variants that lack one export (PLUGIN_RECORDER_WITHOUT_<NAME>) or whose
// "DllCreatePluginFrontal" fails (PLUGIN_RECORDER_NULL_HANDLE).
//
// The log names plugin objects H1, H2... in creation order (an unknown handle is "H?") and
// returned texts T1, T2... A release of an unknown or already released text is logged as
// "DllReleaseStr T?". The extra exports Recorder_* let the test read and steer the module.
#define VEXLAN_PLUGIN_COMPONENT
#include "vexlanclient/pluginabi.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#define RECORDER_EXPORT extern "C" __declspec(dllexport)
#else
#define RECORDER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Plugin {
    int id;
};

struct QueuedText {
    bool null;
    std::string text;
};

std::mutex g_mutex;
std::vector<std::string> g_log;
std::string g_logText;
std::vector<std::unique_ptr<Plugin>> g_plugins;  // freed with the library
std::map<const char*, int> g_liveTexts;          // returned and not yet released, by pointer
int g_textCount = 0;
std::deque<QueuedText> g_errors;
std::deque<QueuedText> g_logs;
VexlanDownloadDelegate* g_delegate = nullptr;

std::string name(void* handle) {
    for (const auto& plugin : g_plugins) {
        if (plugin.get() == handle)
            return "H" + std::to_string(plugin->id);
    }
    return "H?";
}

std::string text(const char* value) {
    return value ? std::string(value) : std::string("(null)");
}

void record(const std::string& line) {
    g_log.push_back(line);
}

int setText(const char* export_name, void* handle, const char* value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    record(std::string(export_name) + " " + name(handle) + " " + text(value));
    return 1;
}

const char* giveText(const char* export_name, void* handle, std::deque<QueuedText>& queue,
                     const char* fallback) {
    std::lock_guard<std::mutex> lock(g_mutex);
    QueuedText next{false, fallback};
    if (!queue.empty()) {
        next = queue.front();
        queue.pop_front();
    }
    if (next.null) {
        record(std::string(export_name) + " " + name(handle) + " -> null");
        return nullptr;
    }
    char* copy = static_cast<char*>(std::malloc(next.text.size() + 1));
    std::memcpy(copy, next.text.c_str(), next.text.size() + 1);
    int id = ++g_textCount;
    g_liveTexts[copy] = id;
    record(std::string(export_name) + " " + name(handle) + " -> T" + std::to_string(id));
    return copy;
}

}  // namespace

extern "C" {

void* DllCreatePluginFrontal(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
#ifdef PLUGIN_RECORDER_NULL_HANDLE
    record("DllCreatePluginFrontal -> null");
    return nullptr;
#else
    g_plugins.push_back(std::make_unique<Plugin>(Plugin{static_cast<int>(g_plugins.size()) + 1}));
    Plugin* plugin = g_plugins.back().get();
    record("DllCreatePluginFrontal -> H" + std::to_string(plugin->id));
    return plugin;
#endif
}

int DllSetDllVersion2(void* h, const char* v) {
    return setText("DllSetDllVersion2", h, v);
}
int DllSetPluginDir2(void* h, const char* v) {
    return setText("DllSetPluginDir2", h, v);
}
int DllSetLogin2(void* h, const char* v) {
    return setText("DllSetLogin2", h, v);
}
int DllSetOrganization2(void* h, const char* v) {
    return setText("DllSetOrganization2", h, v);
}
int DllSetHostname2(void* h, const char* v) {
    return setText("DllSetHostname2", h, v);
}
int DllSetServer2(void* h, const char* v) {
    return setText("DllSetServer2", h, v);
}
int DllSetSuffix2(void* h, const char* v) {
    return setText("DllSetSuffix2", h, v);
}
int DllSetTicket2(void* h, const char* v) {
    return setText("DllSetTicket2", h, v);
}
int DllSetSessionId2(void* h, const char* v) {
    return setText("DllSetSessionId2", h, v);
}
int DllSetCertDirectory2(void* h, const char* v) {
    return setText("DllSetCertDirectory2", h, v);
}
int DllSetCertFileName2(void* h, const char* v) {
    return setText("DllSetCertFileName2", h, v);
}
int DllSetCaFileName2(void* h, const char* v) {
    return setText("DllSetCaFileName2", h, v);
}
int DllSetCertPassword2(void* h, const char* v) {
    return setText("DllSetCertPassword2", h, v);
}
int DllSetProxy2(void* h, const char* v) {
    return setText("DllSetProxy2", h, v);
}

int DllSetDownloadDelegate2(void* h, VexlanDownloadDelegate* delegate) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_delegate = delegate;
    record("DllSetDownloadDelegate2 " + name(h) + (delegate ? " delegate" : " null"));
    return 1;
}

#ifndef PLUGIN_RECORDER_WITHOUT_GETLOGS
const char* DllGetLogs2(void* h) {
    return giveText("DllGetLogs2", h, g_logs, "");
}
#endif

#ifndef PLUGIN_RECORDER_WITHOUT_EXECUTE
int DllExecute2(void* h, const char* command, const char* second, const char* third) {
    std::lock_guard<std::mutex> lock(g_mutex);
    record("DllExecute2 " + name(h) + " " + text(command) + "|" + text(second) + "|" + text(third));
    return 1;
}
#endif

const char* DllGetErrors2(void* h) {
    return giveText("DllGetErrors2", h, g_errors, "[]");
}

int DllStart2(void* h) {
    std::lock_guard<std::mutex> lock(g_mutex);
    record("DllStart2 " + name(h));
    return 1;
}

int DllStop2(void* h) {
    std::lock_guard<std::mutex> lock(g_mutex);
    record("DllStop2 " + name(h));
    return 1;
}

int DllReleaseStr(const char* value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto live = g_liveTexts.find(value);
    if (live == g_liveTexts.end()) {
        record("DllReleaseStr T?");
        return 0;
    }
    record("DllReleaseStr T" + std::to_string(live->second));
    g_liveTexts.erase(live);
    std::free(const_cast<char*>(value));
    return 1;
}

#ifndef PLUGIN_RECORDER_WITHOUT_LAUNCH
int LaunchSafeResource(void* h, int32_t safetype, const char* service) {
    std::lock_guard<std::mutex> lock(g_mutex);
    record("LaunchSafeResource " + name(h) + " " + std::to_string(safetype) + " " + text(service));
    return 1;
}
#endif

#ifndef PLUGIN_RECORDER_WITHOUT_SSLNAME
int DllAddSslServerCertificateName(void* h, const char* v) {
    return setText("DllAddSslServerCertificateName", h, v);
}
#endif

}  // extern "C"

// -- steering by the tests -------------------------------------------------------------------

// Every call so far, one per line.
RECORDER_EXPORT const char* Recorder_log(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_logText.clear();
    for (const std::string& line : g_log)
        g_logText += line + "\n";
    return g_logText.c_str();
}

// Starts afresh: forgets the calls, the plugin objects (numbering restarts at H1), the texts
// not released (numbering restarts at T1), the queues and the delegate.
RECORDER_EXPORT void Recorder_clear(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
    g_plugins.clear();
    for (auto& live : g_liveTexts)
        std::free(const_cast<char*>(live.first));
    g_liveTexts.clear();
    g_textCount = 0;
    g_errors.clear();
    g_logs.clear();
    g_delegate = nullptr;
}

// Queues the next answer of "DllGetErrors2" (`logs` 0) or "DllGetLogs2" (`logs` 1); a null
// `value` makes the export return null. With an empty queue they answer "[]" and "".
RECORDER_EXPORT void Recorder_queue(int logs, const char* value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    (logs ? g_logs : g_errors).push_back(QueuedText{value == nullptr, value ? value : ""});
}

// Texts returned and not released yet.
RECORDER_EXPORT int Recorder_liveTexts(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_liveTexts.size());
}

// The delegate the client gave, or null.
RECORDER_EXPORT VexlanDownloadDelegate* Recorder_delegate(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_delegate;
}
