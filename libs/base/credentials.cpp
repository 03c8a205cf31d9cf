#include "base/credentials.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"

namespace tessel {
namespace {

// Reads `key` into `value` when present; a failure is logged and absorbed.
void readOptional(IKeyReader& reader, const char* key, String& value) {
    try {
        if (reader.hasKey(key))
            reader.getKey(key)->read(value);
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH_AT(e, fixed::kCredentials);
    }
}

}  // namespace

void Credentials::read(IKeyReader& reader) {
    readOptional(reader, "login", m_login);
    readOptional(reader, "password", m_password);
    readOptional(reader, "domain", m_domain);
    readOptional(reader, "mediation", m_domain);
}

void Credentials::read(IReader& reader) {
    reader.read(m_login);
    reader.read(m_password);
    reader.read(m_domain);
}

void Credentials::write(IKeyWriter& writer) {
    writer.writeKey("login")->write(m_login);
    writer.writeKey("password")->write(m_password);
    writer.writeKey("domain")->write(m_domain);
}

void Credentials::write(IWriter& writer) {
    writer.write(m_login);
    writer.write(m_password);
    writer.write(m_domain);
}

String Credentials::userNameWithDomain(bool atForm) const {
    if (m_domain.isEmpty())
        return m_login;
    String name;
    if (atForm) {
        name.appendAll(m_login, '@', m_domain);
    } else {
        name.appendAll(m_domain, '\\', m_login);
    }
    return name;
}

void Credentials::setFromUserName(const String& userName) {
    uint32_t backslash = userName.find('\\');
    if (backslash != String::npos) {
        m_domain = userName.substring(0, backslash);
        m_login = userName.substring(backslash + 1);
        return;
    }
    uint32_t at = userName.find('@');
    if (at != String::npos) {
        m_login = userName.substring(0, at);
        m_domain = userName.substring(at + 1);
        return;
    }
    m_login = userName;
}

}  // namespace tessel
