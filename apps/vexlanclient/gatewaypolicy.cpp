#include "vexlanclient/gatewaypolicy.h"

#include <cstdlib>

#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"

using tessel::String;

#ifndef VEXLAN_GATEWAYS_FILE
#define VEXLAN_GATEWAYS_FILE "/etc/vexlan/gateways"
#endif

namespace vexlan {
namespace {

constexpr const char* kOnlyListed = "only-listed";
constexpr uint32_t kMaxHostLength = 253;
constexpr uint32_t kMaxIpv6Length = 47;  // brackets included
constexpr uint32_t kHttpsPort = 443;
constexpr uint32_t kMaxDisplayed = 260;

bool isHostNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool isIpv6Character(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

bool isValidHost(const String& host) {
    if (host.isEmpty())
        return false;
    if (host[0] == '[') {
        if (host.length() < 4 || host.length() > kMaxIpv6Length)
            return false;
        if (host[host.length() - 1] != ']')
            return false;
        bool colon = false;
        for (uint32_t i = 1; i + 1 < host.length(); ++i) {
            if (!isIpv6Character(host[i]))
                return false;
            colon = colon || host[i] == ':';
        }
        return colon;
    }
    if (host.length() > kMaxHostLength)
        return false;
    for (uint32_t i = 0; i < host.length(); ++i) {
        if (!isHostNameCharacter(host[i]))
            return false;
    }
    return true;
}

// 1 to 65535 in at most five digits; 0 for anything else.
uint32_t parsePort(const String& text) {
    if (text.isEmpty() || text.length() > 5)
        return 0;
    uint32_t port = 0;
    for (uint32_t i = 0; i < text.length(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        port = port * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    return port <= 65535 ? port : 0;
}

// Blanks, tabs and carriage returns around a line or an entry.
String trimLine(const String& line) {
    uint32_t begin = 0;
    uint32_t end = line.length();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (begin < end && blank(line[begin]))
        ++begin;
    while (end > begin && blank(line[end - 1]))
        --end;
    return line.substring(begin, end - begin);
}

// Every gateway refused: what an administrator's file that cannot be read stands for.
AdministratorGateways refuseAll() {
    AdministratorGateways policy;
    policy.onlyListed = true;
    return policy;
}

}  // namespace

String gatewayKey(const String& authority) {
    String host = authority;
    String portText;
    bool hasPort = false;
    uint32_t hostEnd = authority.length();
    if (!authority.isEmpty() && authority[0] == '[') {
        uint32_t close = authority.find(']');
        if (close == String::npos)
            return String();
        hostEnd = close + 1;
    } else {
        uint32_t colon = authority.find(':');
        if (colon != String::npos)
            hostEnd = colon;
    }
    if (hostEnd < authority.length()) {
        if (authority[hostEnd] != ':')
            return String();
        host = authority.substring(0, hostEnd);
        portText = authority.substring(hostEnd + 1);
        hasPort = true;
    }
    if (!isValidHost(host))
        return String();
    String key = host.toLower();
    if (hasPort) {
        uint32_t port = parsePort(portText);
        if (port == 0)
            return String();
        if (port != kHttpsPort)
            key += ":" + String(port);
    }
    return key;
}

bool sameGateway(const String& a, const String& b) {
    String key = gatewayKey(a);
    return !key.isEmpty() && key == gatewayKey(b);
}

bool AdministratorGateways::lists(const String& authority) const {
    String key = gatewayKey(authority);
    if (key.isEmpty())
        return false;
    for (const String& gateway : gateways) {
        if (gateway == key)
            return true;
    }
    return false;
}

AdministratorGateways parseAdministratorGateways(const String& text) {
    AdministratorGateways policy;
    uint32_t lineNumber = 0;
    uint32_t start = 0;
    while (start <= text.length()) {
        uint32_t end = text.find('\n', start);
        if (end == String::npos)
            end = text.length();
        ++lineNumber;
        String line = text.substring(start, end - start);
        start = end + 1;
        uint32_t hash = line.find('#');
        if (hash != String::npos)
            line = line.substring(0, hash);
        line = trimLine(line);
        if (line.isEmpty())
            continue;
        // In any case: an administrator who wrote it meant it, and it is no gateway.
        if (line.equalsIgnoreCase(kOnlyListed)) {
            policy.onlyListed = true;
            continue;
        }
        String key = gatewayKey(line);
        if (key.isEmpty()) {
            tessel::log(2, "GatewayPolicy", "parseAdministratorGateways",
                        "line " + String(lineNumber) +
                            " is no gateway and is ignored: " + displayedGateway(line));
            continue;
        }
        policy.gateways.push_back(key);
    }
    return policy;
}

String administratorGatewaysPath() {
    const char* path = std::getenv("VEXLAN_GATEWAYS_FILE");
    if (path && *path)
        return String::copy(std::string(path));
    return VEXLAN_GATEWAYS_FILE;
}

AdministratorGateways readAdministratorGateways(const String& path) {
    if (!tessel::isFile(path)) {
        if (!tessel::isDirectory(path))
            return AdministratorGateways();
        tessel::log(2, "GatewayPolicy", "readAdministratorGateways",
                    path + " is not a file: every gateway is refused");
        return refuseAll();
    }
    tessel::File file;
    if (!file.open(path, tessel::File::kRead)) {
        tessel::log(2, "GatewayPolicy", "readAdministratorGateways",
                    "cannot read " + path + ": every gateway is refused");
        return refuseAll();
    }
    int size = file.available();
    if (size < 0 || static_cast<uint32_t>(size) > kMaxAdministratorFileBytes) {
        tessel::log(2, "GatewayPolicy", "readAdministratorGateways",
                    path + " is larger than " + String(kMaxAdministratorFileBytes) +
                        " bytes: every gateway is refused");
        return refuseAll();
    }
    String text;
    try {
        if (size > 0) {
            char* out = text.reserveAppend(static_cast<uint32_t>(size));
            file.read(out, size);
            text.setLength(static_cast<uint32_t>(size));
        }
    } catch (const tessel::EFile& e) {
        TESSEL_LOG_CATCH(e);
        tessel::log(2, "GatewayPolicy", "readAdministratorGateways",
                    "cannot read " + path + ": every gateway is refused");
        return refuseAll();
    }
    return parseAdministratorGateways(text);
}

GatewayVerdict judgeGateway(const String& authority, const AdministratorGateways& administrator,
                            const tessel::List<String>& confirmed) {
    if (administrator.lists(authority))
        return GatewayVerdict::kAllowed;
    if (administrator.onlyListed)
        return GatewayVerdict::kRefused;
    String key = gatewayKey(authority);
    if (key.isEmpty())
        return GatewayVerdict::kRefused;
    for (const String& entry : confirmed) {
        if (gatewayKey(entry) == key)
            return GatewayVerdict::kAllowed;
    }
    return GatewayVerdict::kAsk;
}

String displayedGateway(const String& authority) {
    String shown;
    uint32_t count = authority.length() > kMaxDisplayed ? kMaxDisplayed - 3 : authority.length();
    for (uint32_t i = 0; i < count; ++i) {
        char c = authority[i];
        shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    if (count < authority.length())
        shown += "...";
    return shown;
}

String gatewayNotAllowedText(const String& authority) {
    return "the gateway " + displayedGateway(authority) + " is not allowed on this computer";
}

}  // namespace vexlan
