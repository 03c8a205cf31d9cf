#include "vexlanclient/pluginclient.h"

#include <vector>

#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "base/proxy.h"
#include "vexlanclient/client.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/componentfetch.h"
#include "vexlanclient/componentplacement.h"
#include "vexlanclient/componentplacement_platform.h"
#include "vexlanclient/notify.h"
#include "vexlanclient/plugindllinstance.h"
#include "vexlanclient/staticdownloadwrapper.h"
#include "zlib/zip.h"

using tessel::ScopeLock;
using tessel::String;

namespace vexlan {
namespace {

constexpr const char* kPlacement = "downloadDllWindows";
// The ERROR lines of the placement name the tunnel sub-client, whichever sub-client places.
constexpr const char* kPlacementErrorClass = VexlanClientPluginDll::kClassName;

// The "win64" record of a 32-bit plugin on Windows: placed in x64 beside the loaded library for
// the plugin's own use, never loaded (its signature is the plugin's business). A gateway that
// offers none gets a TRACE line and the run goes on with the 32-bit library alone.
void placeCompanion(tessel::http::CurlSession& session, const Dlls& dlls,
                    const SubClientContext& context, const char* className) {
    if (!vexlan::detail::componentPlatform().placesWin64)
        return;
    if (!dlls.m_win64.m_present) {
        tessel::log(0, className, kPlacement, "No win64 component in the configuration");
        return;
    }
    PluginComponent component(className, pluginX64Directory(), dlls.m_win64);
    component.place(session, context.downloadAllowed, false, context.client.unpackLimits());
}

// Loads, verifies (once more after a fresh placement when a library kept from an earlier run
// fails its check) and keeps the plugin loaded for good.
template <class Place, class Load>
void placeAndLoad(bool downloadAllowed, const char* className, Place place, Load load) {
    bool fetched = false;
    String library = place(false, fetched);
    try {
        load(library);
    } catch (const tessel::EBadSignature&) {
        // A library kept from an earlier run that no longer passes its check (a damaged file,
        // or one signed as another version or component than the record names) is placed
        // once more before the run gives up.
        if (!downloadAllowed || fetched)
            throw;
        tessel::log(0, className, "loadDll", library + " failed its check: fetching it again");
        place(true, fetched);
        load(library);
    }
}

// Checks the placed library's signature and loads it for good: a plugin stays loaded until
// the process ends.
PluginDllInstance* verifyAndLoad(VexlanClient& client, const Dlls& dlls, const char* className,
                                 const String& libraryPath) {
    tessel::log(0, className, "loadDll", vexlan::detail::componentPlatform().loadText);
    // Checked before the library is loaded: a library signed as another component (or
    // another version) never has its constructors run.
    const Dll& dll = nativeComponent(dlls, className, "loadDll");
    client.verifyDllSignature(libraryPath, libraryPath + ".sig", dll);
    auto* instance = new PluginDllInstance(libraryPath, dll.m_version, pluginDirectory() + "/");
    keepLoaded(instance);
    return instance;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// PluginComponent

PluginComponent::PluginComponent(const char* className, const String& directory, const Dll& dll)
    : m_className(className), m_directory(directory), m_dll(dll) {
    checkPathComponent(dll.m_filename, "file name", className, kPlacement);
    checkPathComponent(dll.m_pattern, "pattern", className, kPlacement);
    checkPathComponent(dll.m_version, "version", className, kPlacement);
    m_library = directory + "/" + dll.m_pattern + "_" + dll.m_version.replace('.', '_') +
                vexlan::detail::componentPlatform().librarySuffix;
    m_signature = m_library + ".sig";
}

void PluginComponent::removeStale(const String& path) {
    if (!tessel::isFile(path))
        return;
    try {
        tessel::deleteFile(path);
    } catch (const tessel::EFile&) {
        tessel::log(2, kPlacementErrorClass, kPlacement,
                    "File '" + path + "' already exists and cannot be removed");
        throw;
    }
}

void PluginComponent::rename(const String& from, const String& to) {
    try {
        tessel::moveFile(from, to);
    } catch (const tessel::EFile&) {
        tessel::log(2, kPlacementErrorClass, kPlacement, "missing " + from + " in archive");
        throw;
    }
}

bool PluginComponent::place(tessel::http::CurlSession& session, bool downloadAllowed, bool refresh,
                            const tessel::zlib::UnpackLimits& limits) {
    if (!downloadAllowed) {
        tessel::log(0, m_className, kPlacement, "Not downloading dll according to configuration");
        tessel::log(0, m_className, kPlacement, "Using " + m_library + " as dll");
        return false;
    }
    if (!refresh && tessel::isFile(m_library) && tessel::isFile(m_signature)) {
        tessel::log(0, m_className, kPlacement,
                    m_library + " and " + m_signature + " are already present.");
        return false;
    }
    tessel::log(0, m_className, kPlacement, "Downloading dll.");
    String unpacked = m_directory + "/" + m_dll.m_pattern;
    for (const String& path : {m_library, m_signature, unpacked, String(unpacked + ".sig")})
        removeStale(path);
    tessel::ensureDirectory(m_directory);
    String archive = fetchFromConfig(m_directory, session, m_dll);

    // Unpacked into a folder of its own (a name no pattern can have, patterns never start
    // with "."), and renamed into place only once both files are there: an archive that
    // stops half way, lacks a file or goes past the limits leaves nothing in the folder.
    StagingFolder staging(m_directory + "/.unpack-" +
                          m_library.substring(m_directory.length() + 1));
    // A failed transfer leaves no archive: the check below says what is missing.
    tessel::zlib::unzip(archive, staging.path(), limits);
    String staged = staging.path() + "/" + m_dll.m_pattern;
    for (const String& path : {staged, String(staged + ".sig")}) {
        if (!tessel::isFile(path)) {
            tessel::log(2, kPlacementErrorClass, kPlacement, "missing " + path + " in archive");
            TESSEL_THROW(tessel::EFile);
        }
    }
    rename(staged, m_library);
    try {
        rename(staged + ".sig", m_signature);
    } catch (const tessel::EFile&) {
        removeStale(m_library);  // never a library without its signature
        throw;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// VexlanClientPluginDll

VexlanClientPluginDll::VexlanClientPluginDll(const SubClientContext& context,
                                             ClientPluginDllConfiguration* element)
    : m_context(context), m_element(element) {}

VexlanClientPluginDll::~VexlanClientPluginDll() = default;

void VexlanClientPluginDll::stop() {
    ScopeLock lock(m_wakeUpMutex);
    m_stopped = true;
    m_running = false;
    m_wakeUp.signalAll();
}

void VexlanClientPluginDll::message(const String& text) {
    m_context.notify.message(text);
}

void VexlanClientPluginDll::processPluginStatus(const String& report) {
    m_status.process(report, *this);
}

std::vector<String> VexlanClientPluginDll::splitCommands(const String& commands) {
    std::vector<String> pieces;
    uint32_t start = 0;
    while (true) {
        uint32_t end = commands.find(';', start);
        if (end == String::npos) {
            pieces.push_back(commands.substring(start));
            return pieces;
        }
        pieces.push_back(commands.substring(start, end - start));
        start = end + 1;
    }
}

void VexlanClientPluginDll::executeCommands() {
    ScopeLock lock(m_moduleMutex);
    PluginDllInstance* instance = m_instance.load();
    if (!instance || !m_running.load())
        return;
    for (const String& command : splitCommands(instance->getLogs()))
        instance->execute(command);
}

String VexlanClientPluginDll::downloadDllWindows(tessel::http::CurlSession& session, bool refresh,
                                                 bool& fetched) {
    const Dll& dll = nativeComponent(m_element->m_pluginDlls, kClassName, kPlacement);
    PluginComponent component(kClassName, pluginDirectory(), dll);
    fetched = component.place(session, m_context.downloadAllowed, refresh,
                              m_context.client.unpackLimits());
    placeCompanion(session, m_element->m_pluginDlls, m_context, kClassName);
    return component.libraryPath();
}

void VexlanClientPluginDll::fetchPkiFiles(tessel::http::CurlSession& session) {
    // The files are the plugin's business: a failure here is logged and the run goes on.
    String directory = pluginPkiDirectory(m_element->m_orgname);
    try {
        tessel::ensureDirectory(directory);
        fetchFromConfig(directory, session, m_element->m_certificates.m_ca);
        fetchFromConfig(directory, session, m_element->m_certificates.m_cert);
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
    }
}

void VexlanClientPluginDll::loadDll(const String& libraryPath) {
    m_instance = verifyAndLoad(m_context.client, m_element->m_pluginDlls, kClassName, libraryPath);
    tessel::log(0, kClassName, "loadDll", "Module loaded");
}

void VexlanClientPluginDll::run(tessel::http::CurlSession* session) {
    m_running = true;
    if (m_stopped)
        m_running = false;
    m_context.notify.statusChanged(kStatusDownloading);

    // Every text of the gateway that becomes part of a path is checked before anything is
    // fetched or written.
    checkPathComponent(m_element->m_orgname, "organisation", kClassName, "run");
    checkDownloadFileName(m_element->m_certificates.m_ca.m_filename);
    checkDownloadFileName(m_element->m_certificates.m_cert.m_filename);

    placeAndLoad(
        m_context.downloadAllowed, kClassName,
        [&](bool refresh, bool& fetched) {
            String library = downloadDllWindows(*session, refresh, fetched);
            if (!refresh)
                fetchPkiFiles(*session);
            return library;
        },
        [&](const String& library) { loadDll(library); });
    PluginDllInstance* instance = m_instance.load();

    tessel::Proxy proxy;
    proxy.setCredentials(m_context.client.sharedLocalConfiguration().proxyCredentials());
    bool proxyFailed = false;
    try {
        instance->setProxy(proxy);
    } catch (const tessel::NullException&) {
        proxyFailed = true;
    }

    PluginParameters parameters;
    parameters.login = m_element->m_login;
    parameters.organisation = m_element->m_orgname;
    parameters.hostname = m_context.client.gatewayAuthority();
    parameters.server = m_element->m_server;
    parameters.suffix = m_element->m_clientid;
    parameters.ticket = m_element->m_ticket;
    parameters.sessionId = m_element->m_sessionid;
    parameters.certificateDirectory = pluginPkiDirectory(m_element->m_orgname) + "/";
    parameters.certificateFileName = m_element->m_certificates.m_cert.m_filename;
    parameters.caFileName = m_element->m_certificates.m_ca.m_filename;
    parameters.certificatePassword = m_element->m_certPassword;
    parameters.sslServerCertificateNames.assign(m_element->m_sslservercertname.begin(),
                                                m_element->m_sslservercertname.end());
    parameters.downloadDelegate = &StaticDownloadWrapper::downloadFromConfig;
    {
        ScopeLock lock(m_moduleMutex);
        instance->configureAndStart(parameters);
    }
    if (proxyFailed)
        instance->setProxy(proxy);

    while (true) {
        {
            ScopeLock lock(m_moduleMutex);
            processPluginStatus(instance->getErrors());
        }
        ScopeLock lock(m_wakeUpMutex);
        // Tested under the lock that stop takes: a stop during the poll ends the loop here
        // instead of after a whole wait.
        if (!isRunning())
            break;
        if (m_wakeUp.wait(kPollMilliseconds, m_wakeUpMutex))
            break;
    }
    ScopeLock lock(m_moduleMutex);
    m_running = false;
    instance->stop();
}

// ---------------------------------------------------------------------------------------------
// VexlanClientPluginDllNoTunnel

VexlanClientPluginDllNoTunnel::VexlanClientPluginDllNoTunnel(
    const SubClientContext& context, NoTunnelClientPluginDllConfiguration* element)
    : m_context(context), m_element(element) {}

void VexlanClientPluginDllNoTunnel::loadDll(const String& libraryPath) {
    m_instance = verifyAndLoad(m_context.client, m_element->m_pluginDlls, kClassName, libraryPath);
}

void VexlanClientPluginDllNoTunnel::run(tessel::http::CurlSession* session) {
    placeAndLoad(
        m_context.downloadAllowed, kClassName,
        [&](bool refresh, bool& fetched) {
            const Dll& dll = nativeComponent(m_element->m_pluginDlls, kClassName, kPlacement);
            PluginComponent component(kClassName, pluginDirectory(), dll);
            fetched = component.place(*session, m_context.downloadAllowed, refresh,
                                      m_context.client.unpackLimits());
            placeCompanion(*session, m_element->m_pluginDlls, m_context, kClassName);
            return component.libraryPath();
        },
        [&](const String& library) { loadDll(library); });
    m_instance->launchSafeResource(m_element->m_safetype, m_element->m_service,
                                   &StaticDownloadWrapper::downloadFromConfig);
}

}  // namespace vexlan
