#include "vexlanclient/clientconfiguration.h"

#include <cstring>
#include <utility>

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"
#include "vexlanclient/componentplacement_platform.h"
#include "vexlanclient/gatewayrequest.h"

using tessel::ConfReadHelper;
using tessel::EClientConfiguration;
using tessel::IKeyReader;
using tessel::String;

namespace DownloadManager {

void DownloadConfig::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    helper.readKey("filename", m_filename, true);
    helper.readKey("md5", m_md5, false);
    helper.readKey("urlpath", m_urlpath, true);
    vexlan::checkGatewayUrl("urlpath", m_urlpath);
}

}  // namespace DownloadManager

void Dll::readConf(IKeyReader* reader) {
    DownloadManager::DownloadConfig::readConf(reader);
    ConfReadHelper helper(reader);
    helper.readKey("pattern", m_pattern, true);
    helper.readKey("version", m_version, true);
    m_present = true;
}

namespace {

// An optional record that, once present, is read with its own mandatory keys: a partial
// record is an error, not a record silently skipped.
void readOptionalRecord(ConfReadHelper& parent, const char* key, Dll& record) {
    ConfReadHelper section = parent.readKey(key, false);
    if (section.isPresent())
        record.readConf(section.reader());
}

}  // namespace

void Dlls::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    readOptionalRecord(helper, "win32", m_win32);
    readOptionalRecord(helper, "win64", m_win64);
    readOptionalRecord(helper, "mac", m_mac);
    readOptionalRecord(helper, "linux64", m_linux64);
}

const Dll& Dlls::native() const {
    const char* record = vexlan::detail::componentPlatform().nativeRecord;
    return std::strcmp(record, "win32") == 0 ? m_win32 : m_linux64;
}

void Certificates::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    helper.readKey("cert", m_cert, true);
    helper.readKey("ca", m_ca, true);
}

void ClientHostcheckerDllConfiguration::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    helper.readKey("hostcheckerDlls", m_hostcheckerDlls, true);
    helper.readKey("hostcheckingrequest", m_hostcheckingrequest, true);
    helper.readKey("responseurl", m_responseurl, true);
    vexlan::checkGatewayUrl("responseurl", m_responseurl);
    helper.readKey("hostname", m_hostname, true);
    helper.readKey("language", m_language, true);
    helper.readKey("hostcheckingtimer", m_hostcheckingtimer, true);
}

void ClientHostcheckerDllConfiguration::dispatch(ClientConfigurationDispatcher& dispatcher) {
    dispatcher.dispatch(*this);
}

void ClientPluginDllConfiguration::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    helper.readKey("orgname", m_orgname, true);
    helper.readKey("server", m_server, true);
    helper.readKey("certPassword", m_certPassword, true);
    helper.readKey("login", m_login, true);
    helper.readKey("ticket", m_ticket, true);
    helper.readKey("sessionid", m_sessionid, true);
    helper.readKey("pluginDlls", m_pluginDlls, true);
    helper.readKey("certificates", m_certificates, true);
    helper.readKey("clientid", m_clientid, true);
    // Read aside, so that a list that cannot be read leaves the field empty rather than
    // half filled.
    tessel::List<String> names("element");
    if (helper.readKey("sslservercertname", names, false))
        m_sslservercertname.swap(names);
}

void ClientPluginDllConfiguration::dispatch(ClientConfigurationDispatcher& dispatcher) {
    dispatcher.dispatch(*this);
}

void NoTunnelClientPluginDllConfiguration::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    helper.readKey("orgname", m_orgname, true);
    helper.readKey("pluginDlls", m_pluginDlls, true);
    helper.readKey("service", m_service, true);
    helper.readKey("clientid", m_clientid, true);
    helper.readKey("safetype", m_safetype, true);
}

void NoTunnelClientPluginDllConfiguration::dispatch(ClientConfigurationDispatcher& dispatcher) {
    dispatcher.dispatch(*this);
}

ClientConfiguration::ClientConfiguration(const String& type,
                                         std::unique_ptr<ClientConfigurationDispatcherElt> element)
    : m_type(type), m_element(std::move(element)) {}

tessel::gc::Pointer<ClientConfiguration> ClientConfiguration::load(IKeyReader& result) {
    ConfReadHelper helper(&result);
    String type;
    helper.readKey("type", type, true);
    std::unique_ptr<ClientConfigurationDispatcherElt> element;
    if (type == "hostchecker") {
        element = std::make_unique<ClientHostcheckerDllConfiguration>();
    } else if (type == "plugindll") {
        element = std::make_unique<ClientPluginDllConfiguration>();
    } else if (type == "plugindllnotunnel") {
        element = std::make_unique<NoTunnelClientPluginDllConfiguration>();
    } else {
        tessel::log(2, "ClientConfiguration", "load", "Unknown configuration type: " + type);
        TESSEL_THROW_AT(EClientConfiguration, tessel::fixed::kUnknownConfigurationType);
    }
    element->readConf(&result);
    return new ClientConfiguration(type, std::move(element));
}

void ClientConfiguration::dispatch(ClientConfigurationDispatcher& dispatcher) {
    m_element->dispatch(dispatcher);
}
