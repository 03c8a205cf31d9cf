// What the sample tunnel needs from the system (unix/ and windows/ implement it).
#pragma once

#include <ctime>
#include <string>

namespace tunnel {

// `when` in local time.
void localTime(std::time_t when, std::tm& local);
// Writes `text` to `path`, readable by the user alone, never through a link planted there.
bool writePrivateFile(const std::string& path, const std::string& text);
// Moves `from` over `to`, replacing a file already there.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace tunnel
