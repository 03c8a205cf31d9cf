#include "vexlanclient/clientlocalconfiguration.h"

#include "base/base64.h"
#include "base/confhelper.h"
#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"
#include "vexlanclient/dataprotection.h"
#include "vexlanclient/gatewaypolicy.h"
#include "xml/keyreader.h"
#include "xml/parser.h"

using tessel::ConfReadHelper;
using tessel::ENotImplemented;
using tessel::IKeyReader;
using tessel::IKeyWriter;
using tessel::String;

namespace vexlan {
namespace {

// A download flag is false exactly when its text is "false" in any case; absent, true.
bool readDownloadFlag(ConfReadHelper& settings, const char* section) {
    ConfReadHelper entry = settings.readKey(section, false);
    String text;
    if (!entry.isPresent() || !entry.readKey("download", text, false))
        return true;
    return text.toLower() != "false";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ProtectedCredentials

void ProtectedCredentials::read(IKeyReader& reader) {
    ConfReadHelper helper(&reader);
    String login;
    String protectedText;
    String domain;
    helper.readKey("login", login, true);
    helper.readKey("password", protectedText, true);
    bool hasDomain = helper.readKey("domain", domain, false);

    String password;
    String kept;
    if (!protectedText.isEmpty()) {
        try {
            password = String(unprotectData(tessel::base64Decode(protectedText)));
        } catch (const EProtectionKeyUnavailable&) {
            // Logged where it was found; the password is intact and is written back as it is.
            kept = protectedText;
        } catch (const EDataProtection& e) {
            TESSEL_LOG_CATCH_AT(e, tessel::fixed::kUnprotectPassword);
            tessel::log(2, "ProtectedCredentials", "read",
                        "Can not unprotect the proxy password: it is left empty");
        }
    }
    m_credentials.setLogin(login);
    m_credentials.setPassword(password);
    if (hasDomain)
        m_credentials.setDomain(domain);
    m_keptProtectedPassword = kept;
}

void ProtectedCredentials::setCredentials(const tessel::Credentials& credentials) {
    if (credentials.password() != m_credentials.password())
        m_keptProtectedPassword = String();
    m_credentials = credentials;
}

void ProtectedCredentials::write(IKeyWriter& writer) {
    String protectedText = m_keptProtectedPassword;
    try {
        if (protectedText.isEmpty())
            protectedText = tessel::base64Encode(
                protectData(tessel::Buffer::fromString(m_credentials.password())));
    } catch (const EDataProtection& e) {
        TESSEL_LOG_CATCH(e);
        TESSEL_THROW_AT(tessel::Exception, tessel::fixed::kProtectPassword);
    }
    writer.writeKey("login")->write(m_credentials.login());
    writer.writeKey("password")->writeAttribute("security", "1")->write(protectedText);
    writer.writeKey("domain")->write(m_credentials.domain());
}

void ProtectedCredentials::read(tessel::IReader&) {
    TESSEL_THROW_AT(ENotImplemented, tessel::fixed::kClientLocalConfiguration);
}

void ProtectedCredentials::write(tessel::IWriter&) {
    TESSEL_THROW_AT(ENotImplemented, tessel::fixed::kClientLocalConfiguration);
}

// ---------------------------------------------------------------------------------------------
// ClientLocalConfiguration

ClientLocalConfiguration::ClientLocalConfiguration()
    : m_certificateExceptions("domains"), m_confirmedGateways("gateway") {}

void ClientLocalConfiguration::confirmGateway(const String& authority) {
    String key = gatewayKey(authority);
    if (key.isEmpty())
        return;
    for (const String& entry : m_confirmedGateways) {
        if (gatewayKey(entry) == key)
            return;
    }
    m_confirmedGateways.push_back(key);
}

void ClientLocalConfiguration::read(IKeyReader& reader) {
    ConfReadHelper settings(&reader);
    // Read aside, so that a list that fails half-way leaves the current one.
    tessel::List<String> exceptions("domains");
    if (settings.readKey("sslcertignoredomains", exceptions, false)) {
        m_certificateExceptions = exceptions;
    }
    tessel::List<String> gateways("gateway");
    if (settings.readKey("confirmedgateways", gateways, false))
        m_confirmedGateways = gateways;
    ConfReadHelper proxy = settings.readKey("proxy", false);
    if (proxy.isPresent())
        proxy.readKey("credentials", m_proxyCredentials, false);
    m_hostCheckerDownload = readDownloadFlag(settings, "hostcheckerdll");
    m_pluginDownload = readDownloadFlag(settings, "plugindll");
}

void ClientLocalConfiguration::write(IKeyWriter& writer) {
    writer.writeKey("sslcertignoredomains")->write(m_certificateExceptions);
    writer.writeKey("confirmedgateways")->write(m_confirmedGateways);
    writer.writeKey("proxy")->writeKey("credentials")->write(m_proxyCredentials);
    writer.writeKey("hostcheckerdll")->writeKey("download")->write(m_hostCheckerDownload);
    writer.writeKey("plugindll")->writeKey("download")->write(m_pluginDownload);
}

void ClientLocalConfiguration::read(tessel::IReader&) {
    TESSEL_THROW_AT(ENotImplemented, tessel::fixed::kSettingsSequentialRead);
}

void ClientLocalConfiguration::write(tessel::IWriter&) {
    TESSEL_THROW_AT(ENotImplemented, tessel::fixed::kSettingsSequentialWrite);
}

void ClientLocalConfiguration::readFromFile(const String& path) {
    try {
        // The client writes its settings with escaped texts: read them decoded.
        tessel::xml::ParserReader reader(path, tessel::xml::TextEntities::kDecode);
        ClientLocalConfiguration fresh;
        reader.getKey(kRootName)->read(static_cast<tessel::ISerialize&>(fresh));
        *this = fresh;
    } catch (const tessel::xml::XmlException& e) {
        TESSEL_LOG_CATCH(e);
        tessel::log(2, "ClientLocalConfiguration", "readFromFile",
                    "Can not read local configuration from " + path);
    } catch (const tessel::EFile& e) {
        TESSEL_LOG_CATCH(e);
        tessel::log(2, "ClientLocalConfiguration", "readFromFile",
                    "Can not read local configuration from " + path);
    }
}

void ClientLocalConfiguration::writeToFile(const String& path) {
    tessel::xml::XmlParser::save(path, kRootName, *this);
}

}  // namespace vexlan
