// The system proxy settings that proxy discovery (IEProxy) reads: four values named after the
// Internet settings they stand for (ProxyEnable, ProxyServer, ProxyOverride, AutoConfigURL).
// On Windows they are those values of the user's Internet settings in the registry. Elsewhere
// they are filled from GNOME's proxy settings when its schema is installed and its mode is not
// "none", otherwise from the https_proxy / all_proxy / no_proxy environment variables.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "base/string.h"

namespace tessel {
namespace http {

struct SystemProxySettings {
    // False when the source exists but could not be read (discovery then gives no answer).
    bool readable = true;
    // 1: a fixed proxy (ProxyServer) is configured; 0: none (see AutoConfigURL).
    std::optional<uint32_t> proxyEnable;
    // One "host:port" for every protocol, or "protocol=host:port" entries joined with ";".
    std::optional<String> proxyServer;
    // Hosts that go direct, joined with ";"; "*" may start or end an entry.
    std::optional<String> proxyOverride;
    // Address of a proxy auto-config script.
    std::optional<String> autoConfigUrl;

    // The settings of the user running the program, read afresh at each call.
    static SystemProxySettings current();
    // The same, read at most a few seconds ago under the same environment where reading them
    // is costly (GNOME's settings start a process, too much for every transfer of a session);
    // read afresh where it is cheap (the registry).
    static SystemProxySettings recent();

    // GNOME's settings from the text printed by
    // "gsettings list-recursively org.gnome.system.proxy". False when they do not apply
    // (mode "none" or unknown); a listing that lacks a needed key applies but is unreadable.
    static bool fromGnomeListing(const String& listing, SystemProxySettings& out);

    // The environment's settings through `lookup` (the value of a variable, empty when unset).
    using Lookup = std::function<String(const char* name)>;
    static SystemProxySettings fromEnvironment(const Lookup& lookup);
    static SystemProxySettings fromEnvironment();
};

}  // namespace http
}  // namespace tessel
