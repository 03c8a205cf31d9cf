// StaticDownloadWrapper: the download delegate handed to plugin modules, a plain C-callable
// function over the client's one transfer session.
#pragma once

namespace tessel {
namespace http {
class CurlSession;
}
}  // namespace tessel

namespace vexlan {

class StaticDownloadWrapper {
public:
    // The delegate: downloads `url` into the file `path` through the stored session; 1 when
    // the file was written (status 200), 0 when the transfer failed. Without a stored session
    // it logs "StaticDownloadWrapper is not configured !" and returns 1 without downloading.
    // Callable from any thread, also from a module's own threads.
    static int downloadFromConfig(const char* url, const char* path);

    // Stored by the client thread at the start of each run, before any sub-client exists; the
    // session must outlive every module that may call the delegate. Never cleared.
    static void setSession(tessel::http::CurlSession* session);
    static tessel::http::CurlSession* session();
};

// The delegate's type as modules see it.
using DownloadDelegate = int (*)(const char* url, const char* path);

}  // namespace vexlan
