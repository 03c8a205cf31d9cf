// The thread event that carries the client's notifications to the user-interface thread: the
// event's id says which notification it is, its string or integer is the payload.
#pragma once

#include <wx/event.h>

wxDECLARE_EVENT(EVT_CLIENT_NOTIFICATION, wxThreadEvent);

// Event ids of EVT_CLIENT_NOTIFICATION.
enum ClientNotificationId {
    ID_CONNECTION_FAILED = 1,  // text: the error text of the failed gateway request
    ID_STATUS_CHANGED = 2,     // integer: the client's status
    ID_MESSAGE = 3,            // text: a status text of the tunnel plugin
    ID_MEDIATION_FAILED = 4,   // text: not used
    ID_SESSION_TYPE = 5,       // integer: the kind of sub-client (2, 3 or 4)
};
