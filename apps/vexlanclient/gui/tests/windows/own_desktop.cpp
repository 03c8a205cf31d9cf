// Under Wine a desktop is drawn on the display of the process whose first window-system call
// made Wine start that desktop's explorer, and every later process of the prefix that uses the
// desktop gets the same display, whatever its own DISPLAY says. A process chooses its display
// driver once, while it starts (before main), from the desktop it starts on. The default
// desktop of a test prefix is usually started by wineboot or by a console test without any
// display: a window program that starts on it gets Wine's null driver, and every dialog and
// frame then fails to be created ("Can't create dialog using memory template"). It may equally
// belong to the X server of another test run that has ended.
//
// The window tests therefore start themselves again on a new desktop, named after this
// process, whose explorer Wine starts for them on their own display. On Windows itself they
// stay where they are: a desktop other than the interactive one is invisible there.
#include "../own_desktop.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace vexlan::guitest {

namespace {

const wchar_t kDesktopPrefix[] = L"vexlan-window-tests-";

bool underWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

std::wstring currentDesktopName() {
    wchar_t name[256] = {};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(::GetThreadDesktop(::GetCurrentThreadId()), UOI_NAME, name,
                                     sizeof name - sizeof name[0], &needed))
        return std::wstring();
    return name;
}

}  // namespace

std::optional<int> runOnOwnDesktop() {
    if (!underWine() || currentDesktopName().rfind(kDesktopPrefix, 0) == 0)
        return std::nullopt;
    std::wstring desktopName = kDesktopPrefix + std::to_wstring(::GetCurrentProcessId());
    HDESK desktop =
        ::CreateDesktopW(desktopName.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop) {
        std::fprintf(stderr, "cannot create a desktop for the window tests (error %lu)\n",
                     ::GetLastError());
        return 2;
    }
    wchar_t program[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine = ::GetCommandLineW();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktopName.data();
    PROCESS_INFORMATION process{};
    if (length == 0 || length == MAX_PATH ||
        !::CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process)) {
        std::fprintf(stderr, "cannot start the window tests on their desktop (error %lu)\n",
                     ::GetLastError());
        ::CloseDesktop(desktop);
        return 2;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 2;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::CloseDesktop(desktop);
    return static_cast<int>(status);
}

}  // namespace vexlan::guitest
