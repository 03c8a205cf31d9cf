#include "base/proxy.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"

namespace tessel {

String Proxy::typeName(uint16_t type) {
    switch (type) {
        case kSocks4:
            return "socks4";
        case kSocks5:
            return "socks5";
        case kHttps:
            return "https";
        case kNone:
            return "none";
        default:
            return String();
    }
}

String Proxy::pluginTypeName(uint16_t type) {
    return type == kNone ? String("no") : typeName(type);
}

void Proxy::setType(const String& name) {
    if (name == "no-proxy" || name == "no" || name == "none") {
        m_type = kNone;
    } else if (name == "socks4") {
        m_type = kSocks4;
    } else if (name == "socks5") {
        m_type = kSocks5;
    } else if (name == "connect" || name == "https" || name == "http") {
        m_type = kHttps;
    }
}

void Proxy::read(IKeyReader& reader) {
    try {
        if (reader.hasKey("type")) {
            String name;
            reader.getKey("type")->read(name);
            setType(name);
        } else {
            m_type = kNone;
        }
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH_AT(e, fixed::kProxy);
    }
    try {
        if (reader.hasKey("address"))
            reader.getKey("address")->read(m_address);
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH_AT(e, fixed::kProxy);
    }
    // The credentials may also stand directly in the proxy's entry.
    const struct {
        const char* key;
        void (Credentials::*set)(const String&);
    } flat[] = {{"login", &Credentials::setLogin},
                {"domain", &Credentials::setDomain},
                {"password", &Credentials::setPassword}};
    for (const auto& f : flat) {
        try {
            if (reader.hasKey(f.key)) {
                String value;
                reader.getKey(f.key)->read(value);
                (m_credentials.*f.set)(value);
            }
        } catch (const Exception& e) {
            TESSEL_LOG_CATCH_AT(e, fixed::kProxy);
        }
    }
    try {
        if (reader.hasKey("credentials")) {
            reader.getKey("credentials")->read(static_cast<ISerialize&>(m_credentials));
        }
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH_AT(e, fixed::kProxy);
    }
}

void Proxy::write(IKeyWriter& writer) {
    writer.writeKey("type")->write(typeName(m_type));
    writer.writeKey("address")->write(m_address);
    writer.writeKey("credentials")->write(static_cast<ISerialize&>(m_credentials));
}

void Proxy::read(IReader& reader) {
    unsigned short type = kNone;
    reader.read(type);
    m_type = type;
    reader.read(m_address);
    reader.read(static_cast<ISerialize&>(m_credentials));
}

void Proxy::write(IWriter& writer) {
    writer.write(static_cast<unsigned short>(m_type));
    writer.write(m_address);
    writer.write(static_cast<ISerialize&>(m_credentials));
}

}  // namespace tessel
