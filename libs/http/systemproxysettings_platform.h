// What the system proxy settings need from the system (implemented by unix/ and
// windows/systemproxysettings_platform.cpp).
#pragma once

#include "base/string.h"
#include "http/systemproxysettings.h"

namespace tessel {
namespace http {
namespace detail {

// The settings of the user running the program, read afresh.
SystemProxySettings readSystemProxySettings();
// Whether reading them costs enough (a process start) to keep them for a few seconds.
bool systemProxySettingsAreCostly();

// Runs "gsettings list-recursively org.gnome.system.proxy" (bounded in time and output).
// False when the command is missing, fails (the schema is not installed) or does not finish.
// Only where GNOME's settings are the system's.
bool readGnomeProxyListing(String& listing);

}  // namespace detail
}  // namespace http
}  // namespace tessel
