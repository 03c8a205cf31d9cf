// What the host checker's rules ask the system (unix/ and windows/ implement it).
#pragma once

#include <string>

namespace hostchecker {

// The system's name and version as one line ("Debian GNU/Linux 12 (bookworm)",
// "Microsoft Windows 10.0.19045").
std::string osName();
bool fileExists(const std::string& path);
// Whether a process whose program is `name` runs (Linux: its command name; Windows: its
// executable file name, in any case).
bool processRuns(const std::string& name);
// The "user:" rule with its value: "notroot" (POSIX) or "notadmin" (Windows).
bool userRuleHolds(const std::string& value);

}  // namespace hostchecker
