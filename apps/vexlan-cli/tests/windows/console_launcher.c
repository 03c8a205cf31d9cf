/* Test helper for vexlan-cli under Wine: starts a program in this console with variables of
 * its environment set, and delivers console control events to it on request.
 *
 *     console_launcher.exe [--desktop NAME] [NAME=VALUE]... -- PROGRAM [ARGUMENT]...
 *
 * Wine rebuilds USERPROFILE, APPDATA and LOCALAPPDATA from the prefix's registry for a program
 * started from Linux, so a sandbox's folders must be set here, by the Windows parent. Each line
 * read from standard input (a terminal: Wine only makes a console for a program started on
 * one) is a command: "ctrl-c" sends that event to the console's processes (this one ignores
 * it; Wine delivers no Ctrl-Break event made this way, with or without a process group).
 * Exits with the program's exit status, or 120 when it cannot start.
 *
 * --desktop starts the program on a new desktop of that name. Under Wine a window program
 * takes its display from the desktop it starts on, and the default desktop of a fresh prefix
 * is started by wineboot without any display: a window program started there cannot create
 * its windows. A new desktop is drawn on the display of the program that first uses it. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static BOOL WINAPI ignoreEvent(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

/* Appends `argument` quoted as the C runtime splits command lines. */
static void appendQuoted(char* line, size_t size, const char* argument) {
    size_t at = strlen(line);
    if (at && at + 1 < size)
        line[at++] = ' ';
    if (at + 1 < size)
        line[at++] = '"';
    for (const char* c = argument;; ++c) {
        size_t slashes = 0;
        while (*c == '\\') {
            ++slashes;
            ++c;
        }
        /* Backslashes are doubled before a quote and before the closing quote. */
        if (*c == '"' || *c == '\0')
            slashes *= 2;
        for (; slashes && at + 1 < size; --slashes)
            line[at++] = '\\';
        if (*c == '\0')
            break;
        if (*c == '"' && at + 1 < size)
            line[at++] = '\\';
        if (at + 1 < size)
            line[at++] = *c;
    }
    if (at + 1 < size)
        line[at++] = '"';
    line[at] = '\0';
}

static DWORD WINAPI readCommands(LPVOID unused) {
    (void)unused;
    char command[64];
    while (fgets(command, sizeof command, stdin)) {
        if (strncmp(command, "ctrl-c", 6) == 0)
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    }
    return 0;
}

int main(int argc, char** argv) {
    int first = 1;
    const char* desktopName = NULL;
    if (argc > 2 && strcmp(argv[1], "--desktop") == 0) {
        desktopName = argv[2];
        first = 3;
    }
    for (; first < argc && strcmp(argv[first], "--") != 0; ++first) {
        char* equals = strchr(argv[first], '=');
        if (!equals)
            return 120;
        *equals = '\0';
        SetEnvironmentVariableA(argv[first], equals + 1);
    }
    if (first + 1 >= argc)
        return 120;
    static char line[32768];
    for (int i = first + 1; i < argc; ++i)
        appendQuoted(line, sizeof line, argv[i]);

    SetConsoleCtrlHandler(ignoreEvent, TRUE);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    HDESK desktop = NULL;
    if (desktopName) {
        desktop = CreateDesktopA(desktopName, NULL, NULL, 0, GENERIC_ALL, NULL);
        if (!desktop) {
            fprintf(stderr, "console_launcher: cannot create desktop %s: #%lu\n", desktopName,
                    GetLastError());
            return 120;
        }
        startup.lpDesktop = (char*)desktopName;
    }
    if (!CreateProcessA(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "console_launcher: cannot start %s: #%lu\n", argv[first + 1],
                GetLastError());
        return 120;
    }
    CloseHandle(process.hThread);
    HANDLE reader = CreateThread(NULL, 0, readCommands, NULL, 0, NULL);
    if (reader)
        CloseHandle(reader);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 120;
    GetExitCodeProcess(process.hProcess, &status);
    if (desktop)
        CloseDesktop(desktop);
    return (int)status;
}
