/* A window-less program that writes the command line it was started with, as UTF-8, into
 * the file of its own path with ".cmdline" appended (written to a temporary name first and
 * renamed, so that a reader never sees half of it). The installer test puts it in place of
 * the window program to follow a vexlan:// link through the shell to the program. */
#include <windows.h>

#include <wchar.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show) {
    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;
    wchar_t path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 2;
    wchar_t partial[MAX_PATH + 16];
    wcscpy(path + length, L".cmdline");
    wcscpy(partial, path);
    wcscat(partial, L".part");

    const wchar_t* line = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, NULL, 0, NULL, NULL);
    if (size <= 0)
        return 3;
    char* text = HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (!text)
        return 3;
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text, size, NULL, NULL);

    HANDLE file =
        CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 4;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, (DWORD)(size - 1), &written, NULL);
    CloseHandle(file);
    if (!ok || written != (DWORD)(size - 1))
        return 5;
    return MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING) ? 0 : 6;
}
