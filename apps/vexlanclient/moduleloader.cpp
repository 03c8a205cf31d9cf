#include "vexlanclient/moduleloader.h"

#include <string>

#include "base/console.h"
#include "vexlanclient/moduleloader_platform.h"

using tessel::String;

namespace {

// The detail of a failure, logged before EModuleLoader is thrown.
void logLoadFailure(const String& what, const std::string& error) {
    tessel::log(2, "ModuleLoader", "ModuleLoader",
                "Unable to load \"" + what + "\": " + String::copy(error));
}

}  // namespace

ModuleLoader::ModuleLoader(const String& path) : m_module(nullptr) {
    String systemPath = path.replace('\\', '/');
    // A bare file name would make the system search its library folders and possibly load a
    // different file from the one that was verified.
    if (systemPath.find('/') == String::npos)
        systemPath = "./" + systemPath;
    std::string error;
    m_module = vexlan::detail::openModule(systemPath.c_str(), error);
    if (!m_module) {
        logLoadFailure(path, error);
        TESSEL_THROW(tessel::EModuleLoader);
    }
}

ModuleLoader::~ModuleLoader() {
    if (m_module)
        vexlan::detail::closeModule(m_module);
}

void* ModuleLoader::getProc(const String& name) {
    std::string error;
    void* address = vexlan::detail::findSymbol(m_module, name.c_str(), error);
    if (!address) {
        logLoadFailure(name, error);
        TESSEL_THROW(tessel::EModuleLoader);
    }
    return address;
}

void* ModuleLoader::findProc(const String& name) {
    std::string error;
    return vexlan::detail::findSymbol(m_module, name.c_str(), error);
}
