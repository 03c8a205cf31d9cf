#include "vexlanclient/gui/clientnotification.h"

wxDEFINE_EVENT(EVT_CLIENT_NOTIFICATION, wxThreadEvent);
