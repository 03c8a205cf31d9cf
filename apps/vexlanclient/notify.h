// IVexlanClientNotify: everything the client side reports to the user interface. The client
// thread and the sub-clients' own threads call it; an implementation hands each call over to
// its own thread (or records it) and returns at once, without calling back into the client.
#pragma once

#include "base/string.h"

namespace tessel {
namespace http {
class IRequestInfo;
}
}  // namespace tessel

namespace vexlan {

// Session statuses passed to statusChanged.
enum ClientStatus : int {
    kStatusIdle = 1,
    kStatusDownloading = 2,   // components being fetched
    kStatusConnected = 3,
    kStatusSessionOver = 4,   // the session has ended: the program may end
    kStatusHostChecking = 5,  // host checking active
};

// Session types passed to sessionType, sent just before the sub-client is created.
enum SessionType : int {
    kSessionPlugin = 2,
    kSessionHostChecker = 3,
    kSessionPluginNoTunnel = 4,
};

class IVexlanClientNotify {
public:
    // The gateway request could not be transferred; `info` (valid for the call only) tells
    // why: its toString() is the error text.
    virtual void connectionFailed(tessel::http::IRequestInfo& info) = 0;
    // The gateway refused, or the run ended by an exception; the client passes an empty text.
    virtual void mediationFailed(const tessel::String& message) = 0;
    virtual void statusChanged(const int& status) = 0;
    // A text for the user from a sub-client.
    virtual void message(const tessel::String& text) = 0;
    virtual void sessionType(int type) = 0;
    virtual ~IVexlanClientNotify() = default;
};

}  // namespace vexlan
