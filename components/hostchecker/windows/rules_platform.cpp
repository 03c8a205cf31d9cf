// The host checker's questions to a Windows system: the version, file attributes, the process
// snapshot and membership of the administrators group.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>

#include "rules_platform.h"

namespace hostchecker {

std::string osName() {
    // GetVersionEx reports what the program's manifest allows; ntdll reports the real version.
    typedef LONG(WINAPI * GetVersionFunction)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto getVersion = ntdll ? reinterpret_cast<GetVersionFunction>(
                                  reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                            : nullptr;
    if (!getVersion || getVersion(&info) != 0)
        return "Microsoft Windows";
    return "Microsoft Windows " + std::to_string(info.dwMajorVersion) + "." +
           std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool processRuns(const std::string& name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry))
        found = lstrcmpiA(entry.szExeFile, name.c_str()) == 0;
    CloseHandle(snapshot);
    return found;
}

bool userRuleHolds(const std::string& value) {
    if (value != "notadmin")
        return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = TRUE;  // when the question fails, the rule does not hold
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = TRUE;
    FreeSid(administrators);
    return !member;
}

}  // namespace hostchecker
