// ModuleLoader: one dynamic library (a component), loaded for as long as the object lives.
// Construction loads it and getProc resolves its entry points; both raise EModuleLoader after
// an ERROR log line. Used on the client thread; the object is not shared.
#pragma once

#include "base/exception.h"
#include "base/string.h"

class ModuleLoader {
public:
    // Loads the library at `path` with all its symbols bound now and kept private to it. A
    // path without a folder is taken in the current folder, never searched for elsewhere.
    explicit ModuleLoader(const tessel::String& path);
    // Releases the library.
    virtual ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // The address of the entry point `name`; never null.
    void* getProc(const tessel::String& name);
    // The address of the entry point `name`, or null when the library has none (not logged):
    // for optional entry points.
    void* findProc(const tessel::String& name);

    // getProc cast to a function pointer type.
    template <class Function>
    Function getFunction(const tessel::String& name) {
        return reinterpret_cast<Function>(getProc(name));
    }

private:
    void* m_module;  // the system's handle
};
