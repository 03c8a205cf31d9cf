// The plugin sessions. VexlanClientPluginDll fetches, verifies and loads a tunnel plugin,
// configures and starts it, polls its status report every half second (PluginStatusProcessor)
// and passes its status texts on, until the plugin asks to close or the session is stopped;
// then it calls "DllStop2". VexlanClientPluginDllNoTunnel fetches, verifies and loads a plugin
// without tunnel, has it launch one resource and returns at once. PluginComponent places a
// plugin library in its folder under a name made of its pattern and version.
//
// Ownership: a loaded plugin stays loaded until the process ends (keepLoaded): the
// sub-clients never delete their PluginDllInstance.
//
// Threads: run, the status processing and the module calls of the loop happen on the client
// thread. stop and executeCommands may come from any thread; the module is called one call at
// a time (executeCommands waits for a poll under way to finish).
#pragma once

#include <atomic>
#include <vector>

#include "base/condition.h"
#include "base/mutex.h"
#include "base/string.h"
#include "vexlanclient/pluginstatus.h"
#include "vexlanclient/subclient.h"
#include "zlib/zip.h"

class Dll;
class ClientPluginDllConfiguration;
class NoTunnelClientPluginDllConfiguration;

namespace tessel {
namespace http {
class CurlSession;
}
}  // namespace tessel

namespace vexlan {

class PluginDllInstance;

// A plugin library kept in one folder, one file name per version:
// D/<pattern>_<version with "." turned into "_">.so and its ".sig".
class PluginComponent {
public:
    // `className` names the sub-client in TRACE log lines. Checks the record's file name,
    // pattern and version as path components (checkPathComponent, method
    // "downloadDllWindows"): EClientConfiguration before anything is written.
    PluginComponent(const char* className, const tessel::String& directory, const Dll& dll);

    const tessel::String& libraryPath() const { return m_library; }
    const tessel::String& signaturePath() const { return m_signature; }

    // The placement step ("downloadDllWindows"). Without `downloadAllowed`, whatever lies at
    // the library path is used. Otherwise, unless `refresh`, a library and signature already
    // present are used as they are. Else the stale files are deleted, the archive is fetched
    // (or reused by its MD5) and unpacked into a staging folder beside the library, and its
    // pattern and pattern.sig are renamed to the library and signature paths once both are
    // there (nothing else of the archive is kept). A file that cannot be deleted, or an
    // archive that lacks one of the two files, raises EFile after an ERROR line; one that
    // goes past `limits` raises zlib::EZip; neither leaves anything of the archive behind.
    // Returns whether the archive was fetched and unpacked.
    bool place(tessel::http::CurlSession& session, bool downloadAllowed, bool refresh = false,
               const tessel::zlib::UnpackLimits& limits = tessel::zlib::UnpackLimits());

private:
    void removeStale(const tessel::String& path);
    void rename(const tessel::String& from, const tessel::String& to);

    const char* m_className;
    tessel::String m_directory;
    const Dll& m_dll;
    tessel::String m_library;
    tessel::String m_signature;
};

class VexlanClientPluginDll : public ISubClient, private IPluginStatusListener {
public:
    static constexpr const char* kClassName = "VexlanClientPluginDll";
    static constexpr int32_t kPollMilliseconds = 500;

    // The plugin's commands split at every ";": n separators give n + 1 commands, an empty
    // text one empty command.
    static std::vector<tessel::String> splitCommands(const tessel::String& commands);

    // `element` is not owned and outlives the sub-client; the context's download flag is the
    // settings' plugin download flag at creation.
    VexlanClientPluginDll(const SubClientContext& context, ClientPluginDllConfiguration* element);
    // Releases the wake-up only: the plugin stays loaded.
    ~VexlanClientPluginDll() override;

    // The whole session on the client thread: status 2, placement, PKI files, verification
    // and loading (their exceptions leave run before the plugin starts), proxy, configuration
    // and start, the poll loop, then "DllStop2".
    void run(tessel::http::CurlSession* session) override;
    // Ends the poll loop: a wait under way ends at once, a poll under way finishes and no
    // wait follows. Any thread, also before run (the loop then ends after its first poll)
    // and after it.
    void stop() override;
    // The logs action: the plugin's commands ("DllGetLogs2"), split at ";", each carried out
    // ("DllExecute2") in order; only while the plugin runs. Any thread.
    void executeCommands() override;

    // One poll's status report: status texts to the user, close requests (see
    // PluginStatusProcessor). Never raises.
    void processPluginStatus(const tessel::String& report);

private:
    // IPluginStatusListener
    void message(const tessel::String& text) override;

    tessel::String downloadDllWindows(tessel::http::CurlSession& session, bool refresh,
                                      bool& fetched);
    void fetchPkiFiles(tessel::http::CurlSession& session);
    void loadDll(const tessel::String& libraryPath);
    bool isRunning() const { return m_running.load() && !m_stopped.load(); }

    const SubClientContext m_context;
    ClientPluginDllConfiguration* m_element;
    std::atomic<PluginDllInstance*> m_instance{nullptr};  // never deleted (keepLoaded)
    // Held by the loop from its running test into its wait, and by stop around its signal:
    // a stop can never fall between the test and the wait and be lost.
    tessel::Mutex m_wakeUpMutex;
    tessel::Condition m_wakeUp;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};  // stop was called: the loop never waits again
    // Held around every call into the module once it is started, so that executeCommands
    // from another thread never meets a poll or "DllStop2".
    tessel::Mutex m_moduleMutex;
    PluginStatusProcessor m_status;
};

class VexlanClientPluginDllNoTunnel : public ISubClient {
public:
    static constexpr const char* kClassName = "VexlanClientPluginDllNoTunnel";

    // As VexlanClientPluginDll; a launch has nothing to report through the context's notify.
    VexlanClientPluginDllNoTunnel(const SubClientContext& context,
                                  NoTunnelClientPluginDllConfiguration* element);

    // Placement, verification, loading, then "LaunchSafeResource" with the element's safetype
    // and service; returns at once and leaves the plugin running on its own.
    void run(tessel::http::CurlSession* session) override;
    void stop() override {}
    void executeCommands() override {}

private:
    void loadDll(const tessel::String& libraryPath);

    const SubClientContext m_context;
    NoTunnelClientPluginDllConfiguration* m_element;
    PluginDllInstance* m_instance = nullptr;  // never deleted (keepLoaded)
};

}  // namespace vexlan
