// Proxy: which proxy a transfer goes through (kind, address, credentials). Filled by proxy
// discovery and the local settings; turned into transfer options by the transfer layer and
// into a text by the plugin interface.
#pragma once

#include <cstdint>

#include "base/credentials.h"
#include "base/serialize.h"
#include "base/string.h"

namespace tessel {

class Proxy : public ISerialize {
public:
    // The kinds, numbered as they are stored.
    static constexpr uint16_t kSocks4 = 0;  // SOCKS version 4
    static constexpr uint16_t kSocks5 = 1;  // SOCKS version 5
    static constexpr uint16_t kHttps = 2;   // an HTTP proxy reached with CONNECT
    static constexpr uint16_t kNone = 3;    // direct connection

    Proxy() = default;
    Proxy(uint16_t type, const String& address) : m_type(type), m_address(address) {}

    const Credentials& credentials() const { return m_credentials; }
    Credentials& credentials() { return m_credentials; }
    void setCredentials(const Credentials& credentials) { m_credentials = credentials; }

    uint16_t type() const { return m_type; }
    void setType(uint16_t type) { m_type = type; }
    const String& address() const { return m_address; }
    void setAddress(const String& address) { m_address = address; }

    // "socks4", "socks5", "https", "none" (settings and log); empty for an unknown type.
    static String typeName(uint16_t type);
    // The same for the plugin, except that type 3 is "no".
    static String pluginTypeName(uint16_t type);
    // "no-proxy", "no", "none" -> 3; "socks4" -> 0; "socks5" -> 1; "connect", "https",
    // "http" -> 2 (exact comparisons). Any other text leaves the type as it is.
    void setType(const String& name);

    using ISerialize::read;
    using ISerialize::write;
    // Every key is optional and read in its own guard (a failure is logged, reading goes on):
    // "type" (absent: 3), "address", "login", "domain", "password" (into the credentials),
    // and "credentials" (a nested Credentials entry).
    void read(IKeyReader& reader) override;
    // "type" (by name), "address", and the credentials nested under "credentials", the same
    // key that reading looks for.
    void write(IKeyWriter& writer) override;
    // The type as unsigned short, the address, then the credentials.
    void read(IReader& reader) override;
    void write(IWriter& writer) override;

private:
    Credentials m_credentials;
    uint16_t m_type = kNone;
    String m_address;
};

}  // namespace tessel
