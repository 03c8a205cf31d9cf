// How proxy discovery evaluates a proxy auto-config script (implemented by unix/ and
// windows/ieproxy_platform.cpp): by our own engine over a script we fetch, or by the system.
#pragma once

#include "base/string.h"
#include "http/pacscript.h"

namespace tessel {
namespace http {
namespace detail {

// The log line of IEProxy::getIEProxy when the system proxy settings cannot be read.
const char* unreadableProxySettingsText();

// The script's answer for one URL, as an access type.
enum class ScriptAccess {
    kDefault,  // the system's default proxy settings apply (go direct)
    kNoProxy,  // go direct
    kNamed,    // the proxies named in the answer
    kNothing,  // no usable answer
};

// The script's answer for one URL.
struct ScriptAnswer {
    ScriptAccess access = ScriptAccess::kNothing;
    String named;  // with kNamed: the proxies, separated by ";"
    // When there is no answer at all: the log line of IEProxy::getIEProxy that says why.
    const char* failure = nullptr;
};

// Evaluates the script at `address` for `url` within `limits`.
ScriptAnswer evaluateProxyScript(const String& url, const String& address, const PacLimits& limits);

}  // namespace detail
}  // namespace http
}  // namespace tessel
