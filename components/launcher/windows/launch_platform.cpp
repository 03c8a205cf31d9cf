// Opening a service on Windows: the shell opens web addresses only, so that a gateway cannot
// have a program or document of the workstation started.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>

#include "launch_platform.h"

bool launch(const std::string& service) {
    if (service.rfind("https://", 0) != 0 && service.rfind("http://", 0) != 0) {
        std::fprintf(stderr, "launcher: refusing to open '%s': not a web address\n",
                     service.c_str());
        return false;
    }
    HINSTANCE result =
        ShellExecuteA(nullptr, "open", service.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success.
    if (reinterpret_cast<INT_PTR>(result) <= 32) {
        std::fprintf(stderr, "launcher: cannot open the service: #%d\n",
                     static_cast<int>(reinterpret_cast<INT_PTR>(result)));
        return false;
    }
    return true;
}
