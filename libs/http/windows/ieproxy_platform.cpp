// Proxy scripts evaluated by the system's WinHTTP, which fetches the script itself. The call
// runs on a worker thread so that a script or server that never answers cannot hold up the
// transfer that asked: past the limit the worker is left to finish on its own.
#include "http/ieproxy_platform.h"

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "http/ieproxy.h"

namespace tessel {
namespace http {
namespace detail {
namespace {

// Text in the ANSI code page to UTF-16, and back.
std::wstring wide(const String& text) {
    std::string bytes = text.toStd();
    if (bytes.empty())
        return std::wstring();
    int count =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring result(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &result[0], count);
    return result;
}

String ansi(const wchar_t* text) {
    if (!text || !*text)
        return String();
    int count = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1)
        return String();
    std::string result(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], count, nullptr, nullptr);
    result.resize(static_cast<size_t>(count - 1));
    return String::copy(result);
}

// One WinHTTP evaluation, shared by the caller and the worker that runs it.
struct Evaluation {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool opened = false;
    bool answered = false;
    DWORD accessType = 0;
    String proxies;
};

void runEvaluation(const std::shared_ptr<Evaluation>& evaluation, const std::wstring& url,
                   const std::wstring& script, uint32_t timeout) {
    bool opened = false, answered = false;
    DWORD accessType = 0;
    String proxies;
    HINTERNET session = WinHttpOpen(L"Vexlan Software", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session) {
        opened = true;
        int limit = static_cast<int>(timeout);
        WinHttpSetTimeouts(session, limit, limit, limit, limit);
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.dwAutoDetectFlags = 0;
        options.lpszAutoConfigUrl = script.c_str();
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
            answered = true;
            accessType = info.dwAccessType;
            proxies = ansi(info.lpszProxy);
            if (info.lpszProxy)
                GlobalFree(info.lpszProxy);
            if (info.lpszProxyBypass)
                GlobalFree(info.lpszProxyBypass);
        }
        WinHttpCloseHandle(session);
    }
    std::lock_guard<std::mutex> lock(evaluation->lock);
    evaluation->opened = opened;
    evaluation->answered = answered;
    evaluation->accessType = accessType;
    evaluation->proxies = proxies;
    evaluation->finished = true;
    evaluation->done.notify_all();
}

}  // namespace

const char* unreadableProxySettingsText() {
    return "cannot open Internet Explorer key in register database";
}

ScriptAnswer evaluateProxyScript(const String& url, const String& address,
                                 const PacLimits& limits) {
    ScriptAnswer result;
    uint32_t timeout = limits.timeoutMilliseconds;
    auto evaluation = std::make_shared<Evaluation>();
    try {
        std::thread(runEvaluation, evaluation, wide(url), wide(address), timeout).detach();
    } catch (const std::system_error&) {
        result.failure = "cannot open winhttp";
        return result;
    }
    std::unique_lock<std::mutex> lock(evaluation->lock);
    // The script's download and its evaluation, each bounded by the limit.
    auto bound = std::chrono::milliseconds(2 * static_cast<int64_t>(timeout));
    if (!evaluation->done.wait_for(lock, bound, [&] { return evaluation->finished; })) {
        result.failure = "cannot load proxy from url";
        return result;
    }
    if (!evaluation->opened) {
        result.failure = "cannot open winhttp";
        return result;
    }
    if (!evaluation->answered) {
        result.failure = "cannot load proxy from url";
        return result;
    }
    switch (evaluation->accessType) {
        case WINHTTP_ACCESS_TYPE_DEFAULT_PROXY:
            result.access = ScriptAccess::kDefault;
            break;
        case WINHTTP_ACCESS_TYPE_NO_PROXY:
            result.access = ScriptAccess::kNoProxy;
            break;
        case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
            result.named = evaluation->proxies;
            result.access = result.named.isEmpty() ? ScriptAccess::kNothing : ScriptAccess::kNamed;
            break;
        default:
            result.access = ScriptAccess::kNothing;
            break;
    }
    return result;
}

}  // namespace detail

// WinHTTP fetches and keeps scripts itself: there is no cache of ours to fill or empty.
void IEProxy::cacheScript(const String&, const String&) {}

void IEProxy::clearScriptCache() {}

}  // namespace http
}  // namespace tessel
