// Linux implementation of the dynamic-library services.
#include <dlfcn.h>

#include "vexlanclient/moduleloader_platform.h"

namespace vexlan {
namespace detail {
namespace {

std::string lastError(const char* fallback) {
    const char* text = dlerror();
    return text ? std::string(text) : std::string(fallback);
}

}  // namespace

void* openModule(const char* path, std::string& error) {
    dlerror();
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        error = lastError("cannot load the library");
    return module;
}

void* findSymbol(void* module, const char* name, std::string& error) {
    dlerror();
    void* address = dlsym(module, name);
    if (!address)
        error = lastError("the symbol's address is null");
    return address;
}

void closeModule(void* module) {
    dlclose(module);
}

}  // namespace detail
}  // namespace vexlan
