// The rules the sample host checker understands, evaluated against this workstation.
#pragma once

#include <string>

namespace hostchecker {

// Whether one rule ("os:...", "file:...", "proc:...", "user:notroot" on
// POSIX systems, "user:notadmin" on Windows) holds here. Unknown
// rules never hold.
bool ruleHolds(const std::string& rule);

// The rules of `request` (separated by ";") that hold, in request order, joined with ";".
std::string validRules(const std::string& request);

}  // namespace hostchecker
