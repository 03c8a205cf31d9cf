#include "vexlanclient/hostchecker.h"

#include <algorithm>
#include <string>

#include "base/buffer.h"
#include "base/console.h"
#include "base/exception.h"
#include "http/curlsession.h"
#include "http/requestinfo.h"
#include "http/uri.h"
#include "vexlanclient/client.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/componentplacement.h"
#include "vexlanclient/componentplacement_platform.h"
#include "vexlanclient/mediationresponse.h"
#include "vexlanclient/notify.h"

using tessel::ScopeLock;
using tessel::String;

namespace vexlan {

// ---------------------------------------------------------------------------------------------
// HostCheckerDllInstance

HostCheckerDllInstance::HostCheckerDllInstance(const String& libraryPath)
    : m_module(libraryPath),
      m_init(m_module.getFunction<InitFunction>("InitHostCheckerDll")),
      m_close(m_module.getFunction<CloseFunction>("CloseHostCheckerDll")),
      m_getValidRules(m_module.getFunction<RulesFunction>("GetValidRules")) {}

HostCheckerDllInstance::~HostCheckerDllInstance() {
    close();
}

void HostCheckerDllInstance::init(const String& first, const String& second, const String& folder,
                                  const String& hostname, const String& language) {
    m_init(first.c_str(), second.c_str(), folder.c_str(), hostname.c_str(), language.c_str());
}

String HostCheckerDllInstance::getValidRules(const String& request) {
    const char* rules = m_getValidRules(request.c_str());
    return rules ? String::copy(std::string(rules)) : String();
}

void HostCheckerDllInstance::close() {
    m_close();
}

// ---------------------------------------------------------------------------------------------
// ResponseHostcheckerResult

void ResponseHostcheckerResult::readConf(tessel::IKeyReader* reader) {
    tessel::ConfReadHelper helper(reader);
    if (!helper.readKey("continue", m_continue, false))
        m_continue = false;
    helper.readKey("info", m_info, false);
}

// ---------------------------------------------------------------------------------------------
// VexlanClientHostchecker

VexlanClientHostchecker::VexlanClientHostchecker(const SubClientContext& context,
                                                 ClientHostcheckerDllConfiguration* element)
    : m_context(context), m_element(element) {}

VexlanClientHostchecker::~VexlanClientHostchecker() {
    m_instance.reset();
}

void VexlanClientHostchecker::stop() {
    ScopeLock lock(m_wakeUpMutex);
    m_stopped = true;
    m_running = false;
    m_wakeUp.signalAll();
}

String VexlanClientHostchecker::downloadDll(tessel::http::CurlSession& session, bool refresh,
                                            bool& fetched) {
    const Dll& dll = nativeComponent(m_element->m_hostcheckerDlls, kClassName, "downloadDll");
    VersionedComponent component(kClassName, hostCheckerDirectory(), dll);
    fetched = component.place(session, m_context.downloadAllowed, refresh,
                              m_context.client.unpackLimits());
    return component.libraryPath();
}

void VexlanClientHostchecker::loadDll(const String& libraryPath) {
    tessel::log(0, kClassName, "loadDll", vexlan::detail::componentPlatform().loadText);
    // Checked before the library is loaded: a library signed as another component (or
    // another version) never has its constructors run.
    const Dll& dll = nativeComponent(m_element->m_hostcheckerDlls, kClassName, "loadDll");
    m_context.client.verifyDllSignature(libraryPath, libraryPath + ".sig", dll);
    m_instance = std::make_unique<HostCheckerDllInstance>(libraryPath);
}

void VexlanClientHostchecker::run(tessel::http::CurlSession* session) {
    m_running = true;
    if (m_stopped)
        m_running = false;
    m_context.notify.statusChanged(kStatusDownloading);

    bool fetched = false;
    String library = downloadDll(*session, false, fetched);
    try {
        loadDll(library);
    } catch (const tessel::EBadSignature&) {
        // A component kept from an earlier run that no longer passes its check (a damaged
        // file, or one signed as another version or component than the record names) is
        // fetched and placed once more before the run gives up.
        if (!m_context.downloadAllowed || fetched)
            throw;
        tessel::log(0, kClassName, "loadDll", library + " failed its check: fetching it again");
        downloadDll(*session, true, fetched);
        loadDll(library);
    }

    m_instance->init(String(), String(), hostCheckerDirectory() + "/", m_element->m_hostname,
                     m_element->m_language);
    m_context.notify.statusChanged(kStatusHostChecking);

    // Seconds between checks (0: one second), kept within what a wait can take.
    const uint32_t seconds = std::min(m_element->m_hostcheckingtimer, 2000000u);
    const int32_t interval = seconds == 0 ? 1000 : static_cast<int32_t>(seconds * 1000);
    while (isRunning()) {
        String rules = m_instance->getValidRules(m_element->m_hostcheckingrequest);
        if (!sendResponse(*session, rules))
            break;
        ScopeLock lock(m_wakeUpMutex);
        // Tested under the lock that stop takes: a stop during the check or the post ends
        // the loop here instead of after a whole interval.
        if (!isRunning())
            break;
        m_wakeUp.wait(interval, m_wakeUpMutex);
    }
    m_instance->close();
}

bool VexlanClientHostchecker::sendResponse(tessel::http::CurlSession& session,
                                           const String& rules) {
    String body = "rulesChecked=" + tessel::http::percentEncode(rules);
    tessel::Buffer reply;
    tessel::http::RequestInfo info;
    if (!tessel::http::CurlSession::requestToBuffer(&info, session, m_element->m_responseurl, reply,
                                                    body)) {
        tessel::log(2, kClassName, "run", "Error while sending response");
        return false;
    }
    try {
        MediationResponse response{String(reply)};
        if (!response.m_success) {
            tessel::log(2, kClassName, "main", response.m_exception);
            return false;
        }
        ResponseHostcheckerResult result;
        result.readConf(response.result());
        if (!result.m_info.isEmpty())
            tessel::log(0, kClassName, "sendResponse", result.m_info);
        return result.m_continue;
    } catch (const tessel::EMediationResponse&) {
        tessel::log(2, kClassName, "run", "Bad response from mediation");
        return false;
    }
}

}  // namespace vexlan
