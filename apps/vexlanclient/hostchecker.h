// Host checking: VexlanClientHostchecker fetches, verifies and loads the host checker
// component, then asks it at the gateway's interval which compliance rules the workstation
// satisfies and posts each answer to the gateway, for as long as the gateway says to go on and
// nobody stops it. HostCheckerDllInstance wraps the component's three exports;
// ResponseHostcheckerResult is the gateway's answer to one post.
#pragma once

#include <atomic>
#include <memory>

#include "base/condition.h"
#include "base/confhelper.h"
#include "base/mutex.h"
#include "base/string.h"
#include "vexlanclient/moduleloader.h"
#include "vexlanclient/subclient.h"

class ClientHostcheckerDllConfiguration;

namespace vexlan {

// A loaded host checker library and its exports "InitHostCheckerDll", "CloseHostCheckerDll"
// and "GetValidRules". Construction raises EModuleLoader (the library is freed again) when the
// library cannot be loaded or an export is missing. Used on the client thread only.
class HostCheckerDllInstance {
public:
    explicit HostCheckerDllInstance(const tessel::String& libraryPath);
    // Calls "CloseHostCheckerDll", then frees the library.
    virtual ~HostCheckerDllInstance();
    HostCheckerDllInstance(const HostCheckerDllInstance&) = delete;
    HostCheckerDllInstance& operator=(const HostCheckerDllInstance&) = delete;

    void init(const tessel::String& first, const tessel::String& second,
              const tessel::String& folder, const tessel::String& hostname,
              const tessel::String& language);
    // A copy of the component's answer (which the component keeps); empty for a null answer.
    tessel::String getValidRules(const tessel::String& request);
    void close();

private:
    using InitFunction = int (*)(const char*, const char*, const char*, const char*, const char*);
    using CloseFunction = int (*)();
    using RulesFunction = const char* (*)(const char*);

    ModuleLoader m_module;
    InitFunction m_init;
    CloseFunction m_close;
    RulesFunction m_getValidRules;
};

// The result of the gateway's reply to a host-check post.
class ResponseHostcheckerResult : public tessel::IConf {
public:
    // "continue" (bool) and "info" (text), both optional: absent or unreadable "continue" is
    // false, absent "info" empty.
    void readConf(tessel::IKeyReader* reader) override;

    bool m_continue = false;
    tessel::String m_info;
};

class VexlanClientHostchecker : public ISubClient {
public:
    static constexpr const char* kClassName = "VexlanClientHostchecker";

    // `element` (of the current configuration) is not owned and outlives the sub-client; the
    // context's download flag is the settings' host checker download flag at creation.
    VexlanClientHostchecker(const SubClientContext& context,
                            ClientHostcheckerDllConfiguration* element);
    // Closes and frees the component when it was loaded.
    ~VexlanClientHostchecker() override;

    // The whole host-checking session (client thread): status 2, placement, verification and
    // loading (their exceptions leave run), initialisation, status 5, then the check loop.
    void run(tessel::http::CurlSession* session) override;
    // Ends the loop: a wait under way ends at once, a check under way finishes and no wait
    // follows. Any thread, also before run and after it.
    void stop() override;
    void executeCommands() override {}

    // Posts one answer; whether the gateway asks to go on. Failures of the post and of the
    // reply are logged and give false.
    bool sendResponse(tessel::http::CurlSession& session, const tessel::String& rules);

private:
    // Placement of the native component (see VersionedComponent); returns the library path.
    tessel::String downloadDll(tessel::http::CurlSession& session, bool refresh, bool& fetched);
    // Verification, then the instance over the library.
    void loadDll(const tessel::String& libraryPath);
    bool isRunning() const { return m_running.load() && !m_stopped.load(); }

    const SubClientContext m_context;
    ClientHostcheckerDllConfiguration* m_element;
    std::unique_ptr<HostCheckerDllInstance> m_instance;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};  // stop was called: run never (re)starts the loop
    // Held by the loop from its running test into its wait, and by stop around its signal:
    // a stop can never fall between the test and the wait and be lost.
    tessel::Mutex m_wakeUpMutex;
    tessel::Condition m_wakeUp;
};

}  // namespace vexlan
