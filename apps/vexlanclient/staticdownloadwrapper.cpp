#include "vexlanclient/staticdownloadwrapper.h"

#include <mutex>
#include <shared_mutex>
#include <string>

#include "base/console.h"
#include "base/string.h"
#include "http/downloadmanager.h"

namespace vexlan {
namespace {

// Downloads hold the lock shared for their whole length, so the session they use cannot be
// unhooked (and then destroyed) under them.
std::shared_mutex g_lock;
tessel::http::CurlSession* g_session = nullptr;

}  // namespace

int StaticDownloadWrapper::downloadFromConfig(const char* url, const char* path) {
    std::shared_lock<std::shared_mutex> lock(g_lock);
    if (!g_session) {
        tessel::log(2, "StaticDownloadWrapper", "downloadFromConfig",
                    "StaticDownloadWrapper is not configured !");
        return 1;
    }
    // The module owns its texts: copy them.
    tessel::String address = tessel::String::copy(std::string(url ? url : ""));
    tessel::String target = tessel::String::copy(std::string(path ? path : ""));
    return tessel::http::DownloadManager::downloadFileTo(*g_session, address, target) ? 1 : 0;
}

void StaticDownloadWrapper::setSession(tessel::http::CurlSession* session) {
    {
        // Each run stores the same session again: no need to wait for downloads under way.
        std::shared_lock<std::shared_mutex> lock(g_lock);
        if (g_session == session)
            return;
    }
    std::unique_lock<std::shared_mutex> lock(g_lock);
    g_session = session;
}

void StaticDownloadWrapper::clearSession(tessel::http::CurlSession* session) {
    std::unique_lock<std::shared_mutex> lock(g_lock);
    if (g_session == session)
        g_session = nullptr;
}

tessel::http::CurlSession* StaticDownloadWrapper::session() {
    std::shared_lock<std::shared_mutex> lock(g_lock);
    return g_session;
}

}  // namespace vexlan
