// Credentials: a login, a password and a domain, as kept in the settings and handed to proxies
// and plugins. The plain keyed form writes all three in clear (see ProtectedCredentials in the
// client for the settings file, where the password is protected). Not synchronised.
#pragma once

#include "base/serialize.h"
#include "base/string.h"

namespace tessel {

class Credentials : public ISerialize {
public:
    Credentials() = default;
    Credentials(const String& login, const String& password, const String& domain)
        : m_login(login), m_password(password), m_domain(domain) {}

    // Keyed: "login", "password", "domain" and "mediation" (into the domain, so it wins over
    // "domain"), each only when present and each in its own guard: a key that cannot be read
    // is logged and the others are still read.
    void read(IKeyReader& reader) override;
    // Sequential: the three texts in the order login, password, domain.
    void read(IReader& reader) override;
    // Keyed: "login", "password", "domain", in clear.
    void write(IKeyWriter& writer) override;
    void write(IWriter& writer) override;

    const String& login() const noexcept { return m_login; }
    const String& password() const noexcept { return m_password; }
    const String& domain() const noexcept { return m_domain; }
    void setLogin(const String& login) { m_login = login; }
    void setPassword(const String& password) { m_password = password; }
    void setDomain(const String& domain) { m_domain = domain; }

    // The login alone when the domain is empty; otherwise login@domain (atForm) or
    // domain\login.
    String userNameWithDomain(bool atForm) const;
    // "domain\login" sets both (split at the first backslash); else "login@domain" sets both
    // (split at the first at sign); else the whole text is the login and the domain stays.
    // The password is not touched.
    void setFromUserName(const String& userName);

    bool operator==(const Credentials& other) const {
        return m_login == other.m_login && m_password == other.m_password &&
               m_domain == other.m_domain;
    }
    bool operator!=(const Credentials& other) const { return !(*this == other); }

private:
    String m_login;
    String m_password;
    String m_domain;
};

}  // namespace tessel
