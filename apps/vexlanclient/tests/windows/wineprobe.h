// Whether the test runs under Wine rather than Windows: Wine's ntdll exports its version.
#pragma once

#include <windows.h>

namespace vexlan::testing {

inline bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace vexlan::testing
