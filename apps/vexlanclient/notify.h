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

// The notifications carry statuses and session types as plain ints, and these numbers are what
// a front end receives: senders and receivers use the names below, never the numbers. The enums
// are unscoped on purpose: a name converts to the int of the call without a cast, and a
// receiver switches on the names directly; it must handle an int that matches no name.

// Session statuses passed to statusChanged.
enum ClientStatus : int {
    kStatusIdle = 1,          // understood by the front ends; no sender uses it
    kStatusDownloading = 2,   // components being fetched
    kStatusConnected = 3,     // understood by the front ends; no sender uses it
    kStatusSessionOver = 4,   // the session has ended: the program may end
    kStatusHostChecking = 5,  // host checking active
};

// Session types passed to sessionType, sent just before the sub-client is created.
enum SessionType : int {
    kSessionPlugin = 2,          // VexlanClientPluginDll: a plugin with a tunnel
    kSessionHostChecker = 3,     // VexlanClientHostchecker
    kSessionPluginNoTunnel = 4,  // VexlanClientPluginDllNoTunnel
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
