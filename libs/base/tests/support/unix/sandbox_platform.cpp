// Linux side of the test helpers.
#include "sandbox_platform.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace vexlan::testing::detail {

std::string makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexlan-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void setEnvironment(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

std::vector<std::pair<std::string, std::string>> sandboxVariables(const std::string& home) {
    return {{"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}};
}

}  // namespace vexlan::testing::detail
