// What the test helpers need from the system (implemented by unix/ and
// windows/sandbox_platform.cpp).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vexlan::testing::detail {

// Makes a new private folder under the system's temporary folder; throws when it cannot.
std::string makeTempDir();
// Sets (or, when `value` is null, removes) one variable of the process environment.
void setEnvironment(const char* name, const char* value);
// The variables that point the program at its user folders, and the value each gets in a
// sandbox whose home is `home`: HOME and XDG_CONFIG_HOME on Linux; USERPROFILE, APPDATA and
// LOCALAPPDATA on Windows. The second one is the settings folder (configHome()).
std::vector<std::pair<std::string, std::string>> sandboxVariables(const std::string& home);

}  // namespace vexlan::testing::detail
