// The per-user settings of the client, kept in "vexlanclient.xml" in the program folder: the
// servers whose certificates are not checked, the gateways the user has confirmed, the proxy
// credentials (the password protected
// for the current user, never in clear) and whether the host checker and plugin components
// are downloaded. Read once at start-up, written when the user saves the settings dialog.
// Not synchronised: the client owns one instance and uses it from its threads in turn.
#pragma once

#include "base/credentials.h"
#include "base/serializers.h"
#include "base/string.h"

namespace vexlan {

// Credentials whose password goes to a keyed document protected (Base64 of the protected
// bytes, with the attribute security="1"). Only the keyed forms are supported.
class ProtectedCredentials : public tessel::ISerialize {
public:
    // "login" and "password" are mandatory (EConfMissingKey), "domain" optional. A password
    // that cannot be unprotected (another user's file, a damaged text, no key) is logged at
    // level 2 and left empty; login and domain are still taken. A password whose key is
    // only unavailable now (EProtectionKeyUnavailable) reads as empty too, but its protected
    // text is kept and written back unchanged until another password is set.
    void read(tessel::IKeyReader& reader) override;
    // Raises tessel::Exception ("clientlocalconfiguration", line 96) when the password cannot
    // be protected.
    void write(tessel::IKeyWriter& writer) override;
    void read(tessel::IReader& reader) override;   // ENotImplemented
    void write(tessel::IWriter& writer) override;  // ENotImplemented

    const tessel::Credentials& credentials() const noexcept { return m_credentials; }
    void setCredentials(const tessel::Credentials& credentials);

private:
    tessel::Credentials m_credentials;
    tessel::String m_keptProtectedPassword;
};

class ClientLocalConfiguration : public tessel::ISerialize {
public:
    static constexpr const char* kRootName = "vexlanclient";

    ClientLocalConfiguration();

    // Reads the settings file at `path`. A file that is missing, unreadable or not a settings
    // document is logged ("Can not read local configuration from " + path) and the settings
    // stay as they were.
    void readFromFile(const tessel::String& path);
    // Writes the settings to `path`, replacing the previous file only once the new one is
    // completely on the disk. Raises xml::EParser (logged at level 2) when it cannot: the
    // previous file is then unchanged.
    void writeToFile(const tessel::String& path);

    // Keyed: "sslcertignoredomains" (the list, element key "domains"), "confirmedgateways"
    // (the list, element key "gateway"), "proxy"/"credentials", "hostcheckerdll"/"download",
    // "plugindll"/"download"; each optional on reading, all written.
    void read(tessel::IKeyReader& reader) override;
    void write(tessel::IKeyWriter& writer) override;
    void read(tessel::IReader& reader) override;   // ENotImplemented
    void write(tessel::IWriter& writer) override;  // ENotImplemented

    // Hosts (with their port, if any) as written in URLs.
    tessel::List<tessel::String>& certificateExceptions() { return m_certificateExceptions; }
    const tessel::List<tessel::String>& certificateExceptions() const {
        return m_certificateExceptions;
    }
    // Gateways (host[:port]) that the user has confirmed; compared as gatewaypolicy.h says.
    const tessel::List<tessel::String>& confirmedGateways() const { return m_confirmedGateways; }
    // Adds `authority` in its compared form unless it is already there or is malformed.
    void confirmGateway(const tessel::String& authority);
    tessel::Credentials proxyCredentials() const { return m_proxyCredentials.credentials(); }
    void setProxyCredentials(const tessel::Credentials& credentials) {
        m_proxyCredentials.setCredentials(credentials);
    }
    bool pluginDownload() const noexcept { return m_pluginDownload; }
    void setPluginDownload(bool download) { m_pluginDownload = download; }
    bool hostCheckerDownload() const noexcept { return m_hostCheckerDownload; }
    void setHostCheckerDownload(bool download) { m_hostCheckerDownload = download; }

private:
    tessel::List<tessel::String> m_certificateExceptions;
    tessel::List<tessel::String> m_confirmedGateways;
    ProtectedCredentials m_proxyCredentials;
    bool m_pluginDownload = true;
    bool m_hostCheckerDownload = true;
};

}  // namespace vexlan
