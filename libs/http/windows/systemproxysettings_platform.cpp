// The user's Internet settings from the registry (HKEY_CURRENT_USER). Values are bounded in
// size: another program of the user may have written anything there.
#include "http/systemproxysettings_platform.h"

#include <windows.h>

#include <vector>

namespace tessel {
namespace http {
namespace detail {
namespace {

constexpr const char* kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr DWORD kMaxTextBytes = 64 * 1024;

// A value of exactly four bytes (REG_DWORD, or four bytes of any other type).
std::optional<uint32_t> readFourBytes(HKEY key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(value)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

// A text value (REG_SZ or REG_EXPAND_SZ, taken as stored), cut at its first NUL; a value that
// need not end with one is taken whole.
std::optional<String> readText(HKEY key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxTextBytes) {
        return std::nullopt;
    }
    std::vector<char> data(size + 1, '\0');
    DWORD read = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &read) !=
            ERROR_SUCCESS ||
        read > size) {
        return std::nullopt;
    }
    uint32_t length = 0;
    while (length < read && data[length] != '\0')
        ++length;
    return String::copy(data.data(), length);
}

}  // namespace

SystemProxySettings readSystemProxySettings() {
    SystemProxySettings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        settings.readable = false;
        return settings;
    }
    settings.proxyEnable = readFourBytes(key, "ProxyEnable");
    settings.proxyServer = readText(key, "ProxyServer");
    settings.proxyOverride = readText(key, "ProxyOverride");
    settings.autoConfigUrl = readText(key, "AutoConfigURL");
    RegCloseKey(key);
    return settings;
}

bool systemProxySettingsAreCostly() {
    return false;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
