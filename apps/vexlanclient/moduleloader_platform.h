// The system's dynamic-library services behind ModuleLoader (implemented in unix/).
#pragma once

#include <string>

namespace moduleplatform {

// Loads a library with every symbol bound at once and none exported to later loads. Null on
// failure, with the system's explanation in `error`.
void* openModule(const char* path, std::string& error);
// The address of `name` in `module`; null (with `error`) when absent or null.
void* findSymbol(void* module, const char* name, std::string& error);
void closeModule(void* module);

}  // namespace moduleplatform
