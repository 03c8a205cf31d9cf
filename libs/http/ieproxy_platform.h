// How proxy discovery evaluates a proxy auto-config script (implemented by unix/ and
// windows/ieproxy_platform.cpp): by our own engine over a script we fetch, or by the system.
#pragma once

#include "base/string.h"

namespace tessel {
namespace http {
namespace detail {

// The log line of IEProxy::getIEProxy when the system proxy settings cannot be read.
const char* unreadableProxySettingsText();

// The script's answer for one URL, as an access type.
enum class ScriptAccess {
    kDefault,  // the system's default proxy settings apply (go direct)
    kNoProxy,  // go direct
    kNamed,    // the proxies in `named`, separated by ";"
    kNothing,  // no usable answer
};

// Evaluates the script at `address` for `url`. False when there is no answer at all (the reason
// is logged as a line of IEProxy::getIEProxy).
bool evaluateProxyScript(const String& url, const String& address, ScriptAccess& access,
                         String& named);

}  // namespace detail
}  // namespace http
}  // namespace tessel
