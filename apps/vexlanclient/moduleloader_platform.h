// The system's dynamic-library services behind ModuleLoader (implemented by
// unix/moduleloader_platform.cpp).
#pragma once

#include <string>

namespace vexlan {
namespace detail {

// Loads a library with every symbol bound at once and none exported to later loads. Null on
// failure, with the system's explanation in `error`.
void* openModule(const char* path, std::string& error);
// The address of `name` in `module`; null (with `error`) when absent or null.
void* findSymbol(void* module, const char* name, std::string& error);
void closeModule(void* module);

}  // namespace detail
}  // namespace vexlan
