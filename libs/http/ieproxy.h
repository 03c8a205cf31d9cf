// System proxy discovery: which proxy the user's settings choose for one URL. Runs the
// decision on the four values of SystemProxySettings: a fixed proxy (one for all protocols or
// a per-protocol list) with its bypass list, or else a proxy auto-config script (evaluated by
// our own engine, or by WinHTTP on Windows). Proxies on the local machine ("localhost",
// "127.0.0.1", "127.0.0.2") are never used.
#pragma once

#include "base/proxy.h"
#include "base/string.h"
#include "http/pacscript.h"
#include "http/systemproxysettings.h"

namespace tessel {
namespace http {

class IEProxy {
public:
    // Fills the kind and address of `proxy` for `url` from the user's current settings and
    // returns whether a usable answer (a proxy, or the decision to go direct) was found. On
    // false, or when going direct, `proxy` is left as it was passed. Never raises for missing
    // or unreadable settings (each is one log line at level TRACE); parsing `url` may raise
    // UriComponentException. Thread-safe.
    static bool getIEProxy(Proxy& proxy, const String& url);
    // The same decision on given settings.
    static bool getIEProxy(Proxy& proxy, const String& url, const SystemProxySettings& settings);

    // Proxy scripts are fetched directly (never through a proxy) once per address and kept
    // for the life of the process; cacheScript puts a script there in advance. On Windows,
    // WinHTTP fetches and keeps the scripts itself, and these two do nothing.
    static void cacheScript(const String& address, const String& script);
    static void clearScriptCache();
    // Bounds of script evaluation (tests shorten them); on Windows only the time limit
    // applies, to the script's download and to its evaluation.
    static void setScriptLimits(const PacLimits& limits);
};

}  // namespace http
}  // namespace tessel
