// VexlanClient: the client thread. One run turns the start parameter into one request to the
// gateway, reads the configuration element of the reply, creates the matching sub-client
// (host checking, or a plugin with or without a tunnel) and runs it on this thread until the
// session ends. Everything the user must see goes through IVexlanClientNotify; the client
// never touches a window.
//
// Threads: the user interface (or vexlan-cli) constructs the client, sets the start parameter
// and starts the thread with run(); each run() performs one session ("Retry" starts the next
// one on the same object once the previous run has ended). stopSubClient and
// executeSubClientCommands reach the current sub-client from any thread under the client's
// lock, so they never meet a sub-client that is being deleted. The local settings are kept
// behind a lock as well: localConfiguration() hands out copies, setLocalConfiguration
// replaces them, and the next transfer uses the new values.
//
// Errors: a run never lets an exception out; every failure of a run ends in exactly one
// notification (connectionFailed or mediationFailed). saveLocalConfiguration raises.
#pragma once

#include <atomic>
#include <memory>

#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/string.h"
#include "base/thread.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/clientcurlsession.h"
#include "vexlanclient/clientlocalconfiguration.h"
#include "vexlanclient/notify.h"
#include "vexlanclient/subclient.h"
#include "zlib/zip.h"

namespace vexlan {

class VexlanClient : public ClientConfigurationDispatcher, public tessel::Thread {
public:
    // The product version, sent in the "clientversion" parameter and the user agent.
    static constexpr const char* kVersion = "8.4.0.24";
    // Where all four log levels go.
    static constexpr const char* kLogFile = "/tmp/vexlanclient.log";

    // On the user-interface thread. Sends the four log levels to kLogFile (or, when that file
    // is a link or another user's, to "vexlanclient.log" in the program folder), creates the
    // program folder, makes it the current directory and loads the settings file when it
    // exists. `notify` is not owned and must outlive the client. Never raises for a missing
    // folder or settings file (logged).
    explicit VexlanClient(IVexlanClientNotify* notify);
    // Asks a running sub-client to stop, then waits for the thread to end; the download
    // delegate of plugin modules no longer uses the session afterwards.
    ~VexlanClient() override;

    // The start parameter of the next run (a URI: gateway, identifier in its user information,
    // "lang" among its parameters). Set before run().
    void setStartParameter(const tessel::String& parameter);
    tessel::String startParameter() const;

    // One run (the thread's body). Never raises.
    void main() override;

    // Whether a run contacts only gateways that the user has confirmed or the administrator
    // lists (the window program, which asks the user first); otherwise only the
    // administrator's "only-listed" is enforced. Set before run(); off by default.
    void setGatewayConfirmationRequired(bool required) { m_confirmationRequired = required; }

    // ClientConfigurationDispatcher: on the client thread, from the run; each sends
    // sessionType and stores the new sub-client.
    void dispatch(NoTunnelClientPluginDllConfiguration& element) override;
    void dispatch(ClientPluginDllConfiguration& element) override;
    void dispatch(ClientHostcheckerDllConfiguration& element) override;

    // Calls stop on the current sub-client, if there is one; true when there was. Any thread.
    bool stopSubClient();
    // Calls executeCommands on the current sub-client, if there is one; true when there was.
    // Any thread; the sub-client is not deleted while the call runs.
    bool executeSubClientCommands();
    bool hasSubClient() const;

    // Accepts the component library at dllPath with its signature at sigPath, checked with
    // the key built into the client and signed as the component that `record` names (its
    // pattern and version); raises EBadSignature otherwise. Called by the sub-clients before
    // loading a library, also one kept from an earlier run.
    void verifyDllSignature(const tessel::String& dllPath, const tessel::String& sigPath,
                            const Dll& record);

    // Host and optional port of the gateway of the current run (empty before the first
    // request). Any thread.
    tessel::String gatewayAuthority() const;

    // A copy of the local settings; any thread.
    ClientLocalConfiguration localConfiguration() const;
    // Replaces the local settings (not yet saved); any thread.
    void setLocalConfiguration(const ClientLocalConfiguration& settings);
    // Writes the local settings to the settings file; raises xml::EParser (logged) when the
    // file cannot be written, the previous file then being unchanged.
    void saveLocalConfiguration();
    // The settings object the session reads from (for the sub-clients).
    const SharedLocalConfiguration& sharedLocalConfiguration() const {
        return m_localConfiguration;
    }

    // The one transfer session of the client and its sub-clients (its limits may be set
    // before run()).
    VexlanClientCurlSession& session() { return m_session; }
    // How much one component archive may unpack to (1 GiB and 10 000 entries unless set).
    // Set before run(); the sub-clients read it on the client thread.
    void setUnpackLimits(const tessel::zlib::UnpackLimits& limits) { m_unpackLimits = limits; }
    const tessel::zlib::UnpackLimits& unpackLimits() const { return m_unpackLimits; }
    IVexlanClientNotify* notify() const { return m_notify; }
    // The configuration element of the last reply (empty before the first one).
    tessel::gc::Pointer<ClientConfiguration> configuration() const;

    // The settings file: the program folder + "/vexlanclient.xml".
    static tessel::String settingsFilePath();

private:
    void runSession();
    // Whether the run may contact the gateway `host`; when not, logs why and sends
    // mediationFailed (with the refusal's text when the administrator's file refuses it).
    bool gatewayAllowed(const tessel::String& host);
    // Stores a new sub-client (the previous one was released at the start of the run).
    void setSubClient(std::unique_ptr<ISubClient> subClient);
    // Takes the sub-client out of the field (under the lock) and deletes it.
    void releaseSubClient();

    SharedLocalConfiguration m_localConfiguration;
    tessel::gc::Pointer<ClientConfiguration> m_configuration;
    VexlanClientCurlSession m_session;
    tessel::zlib::UnpackLimits m_unpackLimits;
    tessel::String m_startParameter;
    IVexlanClientNotify* m_notify;
    std::unique_ptr<ISubClient> m_subClient;
    tessel::String m_gatewayAuthority;
    std::atomic<bool> m_confirmationRequired{false};
    // Guards the configuration and the texts, which the client thread writes and other
    // threads read.
    mutable tessel::Mutex m_mutex;
    // Guards the sub-client field; held while stop or executeCommands runs on it, so the
    // client thread cannot delete it meanwhile.
    mutable tessel::Mutex m_subClientMutex;
};

}  // namespace vexlan
