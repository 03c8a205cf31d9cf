// Opening a service with the desktop's handler (unix/ and windows/ implement it).
#pragma once

#include <string>

// Starts the handler for `service` (already checked: not empty, no control characters, not
// starting with "-") so that it outlives the client. False (with a line on standard error)
// when it could not be started.
bool launch(const std::string& service);
