// What the system proxy settings need from the system (implemented by
// unix/systemproxysettings_platform.cpp).
#pragma once

#include "base/string.h"

namespace tessel {
namespace http {
namespace detail {

// Runs "gsettings list-recursively org.gnome.system.proxy" (bounded in time and output).
// False when the command is missing, fails (the schema is not installed) or does not finish.
bool readGnomeProxyListing(String& listing);

}  // namespace detail
}  // namespace http
}  // namespace tessel
