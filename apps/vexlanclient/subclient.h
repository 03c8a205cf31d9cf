// ISubClient: one kind of session (host checking, a plugin with or without a tunnel), created
// by the client from the gateway's configuration element and run on the client thread.
#pragma once

namespace tessel {
namespace http {
class CurlSession;
}
}  // namespace tessel

namespace vexlan {

class IVexlanClientNotify;
class VexlanClient;

// What the client gives every sub-client it creates, beside the sub-client's own configuration
// element. Nothing is owned: the client and its notify outlive the sub-client.
struct SubClientContext {
    VexlanClient& client;         // signatures, unpack limits, settings, gateway authority
    IVexlanClientNotify& notify;  // statuses and texts for the user
    bool downloadAllowed;         // the settings' download flag for this kind of component
};

class ISubClient {
public:
    // Performs the whole session on the client thread and returns when it is over. Errors
    // leave as exceptions of the tessel::Exception family.
    virtual void run(tessel::http::CurlSession* session) = 0;
    // Asks a session to end; from any thread, at any time: before run, during it (run then
    // returns promptly) and after it.
    virtual void stop() = 0;
    // The tray menu's logs action; only the tunnel plugin does something.
    virtual void executeCommands() = 0;
    virtual ~ISubClient() = default;
};

}  // namespace vexlan
