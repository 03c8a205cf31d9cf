#include "vexlanclient/client.h"

#include <cstdio>

#include "base/buffer.h"
#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "base/fixedpositions.h"
#include "http/requestinfo.h"
#include "http/response.h"
#include "tls/threadstate.h"
#include "vexlan_component_key.h"
#include "vexlanclient/gatewaypolicy.h"
#include "vexlanclient/gatewayrequest.h"
#include "vexlanclient/hostchecker.h"
#include "vexlanclient/mediationresponse.h"
#include "vexlanclient/pluginclient.h"
#include "vexlanclient/signeddll.h"
#include "vexlanclient/staticdownloadwrapper.h"

using tessel::ScopeLock;
using tessel::String;

namespace vexlan {
namespace {

constexpr const char* kProgramLogName = "vexlanclient.log";

// The four levels, in the order they are pointed at the log file.
constexpr int kLogLevels[] = {0, 2, 3, 1};

bool sendLogTo(const String& path) {
    for (int level : kLogLevels) {
        if (!tessel::setOutput(level, path))
            return false;
    }
    return true;
}

// Permission bits as the user reads them, "0755".
String octalMode(int mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode) & 07777u);
    return String(text).copy();
}

}  // namespace

VexlanClient::VexlanClient(IVexlanClientNotify* notify)
    : tessel::Thread("vexlanclient", true), m_session(&m_localConfiguration), m_notify(notify) {
    // A log file that is a link or belongs to another user is refused by the console; the log
    // then goes to the program folder as soon as it exists.
    bool logInTmp = sendLogTo(kLogFile);
    String folder = tessel::getProgramDirectory();
    try {
        tessel::ensureDirectory(folder);
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
    }
    // A folder made by an older client, or by hand, may let others read the keys and
    // settings inside it.
    int formerMode = tessel::narrowFolderToOwner(folder);
    if (!logInTmp) {
        String fallback = folder + "/" + kProgramLogName;
        bool ok = tessel::isDirectory(folder) && sendLogTo(fallback);
        tessel::log(
            2, "VexlanClient", "VexlanClient",
            String("The log file ") + kLogFile + " cannot be used; " +
                (ok ? "logging to " + fallback : String("logging to standard output only")));
    }
    tessel::log(0, "VexlanClient", "main", "Vexlan directory is : " + folder);
    if (formerMode >= 0) {
        tessel::log(1, "VexlanClient", "main",
                    "Vexlan directory was open to other users (mode " + octalMode(formerMode) +
                        "): narrowed to 0700");
    }
    tessel::setCurrentDirectory(folder);
    String settings = settingsFilePath();
    if (tessel::isFile(settings)) {
        tessel::log(0, "VexlanClient", "VexlanClient",
                    "Loading local configuration from " + settings);
        m_localConfiguration.readFromFile(settings);
    }
}

VexlanClient::~VexlanClient() {
    // The thread uses every member: make it end before they go.
    stopSubClient();
    wait(-1);
    releaseSubClient();
    // Plugin modules stay loaded: their download calls must not reach the session once it
    // is gone.
    StaticDownloadWrapper::clearSession(&m_session);
}

String VexlanClient::settingsFilePath() {
    return tessel::getSettingsFilePath();
}

void VexlanClient::setStartParameter(const String& parameter) {
    ScopeLock lock(m_mutex);
    m_startParameter = parameter;
}

String VexlanClient::startParameter() const {
    ScopeLock lock(m_mutex);
    return m_startParameter;
}

String VexlanClient::gatewayAuthority() const {
    ScopeLock lock(m_mutex);
    return m_gatewayAuthority;
}

tessel::gc::Pointer<ClientConfiguration> VexlanClient::configuration() const {
    ScopeLock lock(m_mutex);
    return m_configuration;
}

ClientLocalConfiguration VexlanClient::localConfiguration() const {
    return m_localConfiguration.get();
}

void VexlanClient::setLocalConfiguration(const ClientLocalConfiguration& settings) {
    m_localConfiguration.set(settings);
}

void VexlanClient::saveLocalConfiguration() {
    m_localConfiguration.writeToFile(settingsFilePath());
}

// ---------------------------------------------------------------------------------------------
// Sub-client field

bool VexlanClient::stopSubClient() {
    ScopeLock lock(m_subClientMutex);
    if (!m_subClient)
        return false;
    m_subClient->stop();
    return true;
}

bool VexlanClient::executeSubClientCommands() {
    ScopeLock lock(m_subClientMutex);
    if (!m_subClient)
        return false;
    m_subClient->executeCommands();
    return true;
}

bool VexlanClient::hasSubClient() const {
    ScopeLock lock(m_subClientMutex);
    return m_subClient != nullptr;
}

void VexlanClient::setSubClient(std::unique_ptr<ISubClient> subClient) {
    std::unique_ptr<ISubClient> previous;
    {
        ScopeLock lock(m_subClientMutex);
        previous = std::move(m_subClient);
        m_subClient = std::move(subClient);
    }
}

void VexlanClient::releaseSubClient() {
    std::unique_ptr<ISubClient> previous;
    {
        ScopeLock lock(m_subClientMutex);
        previous = std::move(m_subClient);
    }
    // Deleted outside the lock: a destructor that closes a component may take its time, and
    // nobody can reach the sub-client any more.
}

// ---------------------------------------------------------------------------------------------
// Dispatch

void VexlanClient::dispatch(NoTunnelClientPluginDllConfiguration& element) {
    m_notify->sessionType(kSessionPluginNoTunnel);
    setSubClient(std::make_unique<VexlanClientPluginDllNoTunnel>(
        SubClientContext{*this, *m_notify, m_localConfiguration.pluginDownload()}, &element));
}

void VexlanClient::dispatch(ClientPluginDllConfiguration& element) {
    m_notify->sessionType(kSessionPlugin);
    setSubClient(std::make_unique<VexlanClientPluginDll>(
        SubClientContext{*this, *m_notify, m_localConfiguration.pluginDownload()}, &element));
}

void VexlanClient::dispatch(ClientHostcheckerDllConfiguration& element) {
    m_notify->sessionType(kSessionHostChecker);
    setSubClient(std::make_unique<VexlanClientHostchecker>(
        SubClientContext{*this, *m_notify, m_localConfiguration.hostCheckerDownload()}, &element));
}

void VexlanClient::verifyDllSignature(const String& dllPath, const String& sigPath,
                                      const Dll& record) {
    verifyComponentSignature(dllPath, sigPath, builtinComponentKey(),
                             ComponentIdentity{record.m_pattern, record.m_version});
}

// ---------------------------------------------------------------------------------------------
// One run

bool VexlanClient::gatewayAllowed(const String& host) {
    const AdministratorGateways administrator =
        readAdministratorGateways(administratorGatewaysPath());
    if (administrator.onlyListed && !administrator.lists(host)) {
        const String refusal = gatewayNotAllowedText(host);
        tessel::log(2, "VexlanClient", "main", refusal);
        m_notify->mediationFailed(refusal);
        return false;
    }
    if (m_confirmationRequired &&
        judgeGateway(host, administrator, m_localConfiguration.get().confirmedGateways()) !=
            GatewayVerdict::kAllowed) {
        tessel::log(
            2, "VexlanClient", "main",
            "the gateway " + displayedGateway(host) + " has not been confirmed: nothing is sent");
        m_notify->mediationFailed(String());
        return false;
    }
    return true;
}

void VexlanClient::main() {
    // A sub-client kept from a run that ended by an exception (so that Retry could stop it)
    // is released now that the next run starts.
    releaseSubClient();
    try {
        runSession();
    } catch (const tessel::EBadSignature&) {
        tessel::log(2, "VexlanClient", "main", "Bad component signature");
        m_notify->mediationFailed(String());
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH_AT(e, tessel::fixed::kClientRun);
        m_notify->mediationFailed(String());
    } catch (...) {
        tessel::log(2, "VexlanClient", "main", "unhandled exception");
        m_notify->mediationFailed(String());
    }
    // The transfers and checks of the run left OpenSSL state on this thread; it goes now,
    // before the run counts as ended (the program may end as soon as it does).
    tessel::tls::releaseThreadState();
}

void VexlanClient::runSession() {
    // Any scheme (vexlan:// links included) becomes https; path and parameters are kept.
    const GatewayRequest request = gatewayRequest(startParameter(), kVersion);
    const String& host = request.host;
    if (!gatewayAllowed(host))
        return;

    m_session.addCookie(request.identifierCookie());
    m_session.setUserAgent(String("VexlanClient ") + kVersion + " " + tessel::osName());

    {
        ScopeLock lock(m_mutex);
        m_gatewayAuthority = host;
    }
    m_session.setGatewayAuthority(host);
    StaticDownloadWrapper::setSession(&m_session);

    tessel::http::RequestInfo info;
    tessel::Buffer body;
    if (!tessel::http::CurlSession::requestToBuffer(&info, m_session, request.url, body)) {
        m_notify->connectionFailed(info);
        return;
    }
    int status = info.statusCode();
    if (status != 200) {
        tessel::log(2, "VexlanClient", "main",
                    "mediation response is HTTP." + String(static_cast<int32_t>(status)));
    }

    MediationResponse response{String(body)};
    if (!response.m_success) {
        tessel::log(2, "VexlanClient", "main", response.m_exception);
        m_notify->mediationFailed(String());
        return;
    }
    tessel::gc::Pointer<ClientConfiguration> configuration =
        ClientConfiguration::load(*response.result());
    {
        ScopeLock lock(m_mutex);
        m_configuration = configuration;
    }
    configuration->dispatch(*this);

    ISubClient* subClient = nullptr;
    {
        ScopeLock lock(m_subClientMutex);
        subClient = m_subClient.get();
    }
    // Only this thread replaces or deletes the sub-client, so it stays valid during run.
    if (subClient)
        subClient->run(&m_session);

    releaseSubClient();
    m_notify->statusChanged(kStatusSessionOver);
}

}  // namespace vexlan
