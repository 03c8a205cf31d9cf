#include "vexlanclient/staticdownloadwrapper.h"

#include <atomic>
#include <string>

#include "base/console.h"
#include "base/string.h"
#include "http/downloadmanager.h"

namespace vexlan {
namespace {

std::atomic<tessel::http::CurlSession*> g_session{nullptr};

}  // namespace

int StaticDownloadWrapper::downloadFromConfig(const char* url, const char* path) {
    tessel::http::CurlSession* current = g_session.load();
    if (!current) {
        tessel::log(2, "StaticDownloadWrapper", "downloadFromConfig",
                    "StaticDownloadWrapper is not configured !");
        return 1;
    }
    // The module owns its texts: copy them.
    tessel::String address = tessel::String::copy(std::string(url ? url : ""));
    tessel::String target = tessel::String::copy(std::string(path ? path : ""));
    return tessel::http::DownloadManager::downloadFileTo(*current, address, target) ? 1 : 0;
}

void StaticDownloadWrapper::setSession(tessel::http::CurlSession* session) {
    g_session.store(session);
}

tessel::http::CurlSession* StaticDownloadWrapper::session() { return g_session.load(); }

}  // namespace vexlan
