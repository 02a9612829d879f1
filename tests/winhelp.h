/* What the test programs inside a Wine prefix share (the end-to-end driver
 * and stand-in viewer, the tests of the Windows operations), in C for both
 * kinds; included after windows.h. */
#ifndef KOMPAKTO_TEST_WINHELP_H
#define KOMPAKTO_TEST_WINHELP_H

#include <sddl.h>
#include <stdlib.h>
#include <wchar.h>

#define WH_TEXT_SIZE 8192

/* What a message box shows: its visible buttons, in the order of
 * kWhButtons; the id of its focused control, -1 when none; the control that
 * shows its icon, NULL when it has none (0x440 in Wine, 0x14 on Windows). */
typedef struct {
    wchar_t caption[WH_TEXT_SIZE], text[WH_TEXT_SIZE];
    HWND owner, iconShown;
    int buttons[9], buttonCount, focused;
} WhBox;

static const int kWhButtons[9] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE};

typedef struct {
    DWORD process, thread; /* the one asked for; the other is 0 */
    HWND found;
} WhBoxSearch;

static inline BOOL CALLBACK WhNoteBox(HWND window, LPARAM search) {
    WhBoxSearch* s = (WhBoxSearch*)search;
    DWORD process = 0, thread = GetWindowThreadProcessId(window, &process);
    wchar_t type[16] = L"";
    if ((s->process ? process == s->process : thread == s->thread) && IsWindowVisible(window) &&
        GetClassNameW(window, type, 16) && wcscmp(type, L"#32770") == 0) {
        s->found = window;
    }
    return !s->found;
}

/* The visible dialog of process, or of thread when process is 0; NULL when none. */
static inline HWND WhFindBox(DWORD process, DWORD thread) {
    WhBoxSearch search = {process, thread, NULL};
    if (process) EnumWindows(WhNoteBox, (LPARAM)&search);
    if (!process) EnumThreadWindows(thread, WhNoteBox, (LPARAM)&search);
    return search.found;
}

/* Reads box once its thread runs the box's modal loop and it has painted. */
static inline void WhReadBox(HWND box, WhBox* seen) {
    DWORD_PTR icon = 0;
    GUITHREADINFO gui = {sizeof(gui), 0, NULL, NULL, NULL, NULL, NULL, NULL, {0, 0, 0, 0}};
    SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &icon);
    Sleep(150);
    seen->caption[0] = seen->text[0] = 0;
    GetWindowTextW(box, seen->caption, WH_TEXT_SIZE);
    GetDlgItemTextW(box, 0xFFFF, seen->text, WH_TEXT_SIZE);
    seen->owner = GetWindow(box, GW_OWNER);
    seen->buttonCount = 0;
    for (int i = 0; i < 9; i++) {
        if (IsWindowVisible(GetDlgItem(box, kWhButtons[i]))) seen->buttons[seen->buttonCount++] = kWhButtons[i];
    }
    int focused = GetGUIThreadInfo(GetWindowThreadProcessId(box, NULL), &gui) && GetParent(gui.hwndFocus) == box;
    seen->focused = focused ? GetDlgCtrlID(gui.hwndFocus) : -1;
    seen->iconShown = GetDlgItem(box, 0x440) ? GetDlgItem(box, 0x440) : GetDlgItem(box, 0x14);
    icon = 0;
    if (IsWindowVisible(seen->iconShown)) {
        SendMessageTimeoutW(seen->iconShown, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    }
    if (!icon) seen->iconShown = NULL;
}

/* The file at path, once it is there (within milliseconds), whole, with a
 * zero after it, to be freed; NULL when it is not there or cannot be read.
 * A writer that renames its file into place (WhWriteWhole) leaves no half. */
static inline char* WhAwaitFile(const wchar_t* path, DWORD milliseconds, DWORD* size) {
    DWORD start = GetTickCount(), got = 0;
    while (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start <= milliseconds) Sleep(20);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    DWORD length = GetFileSize(file, NULL);
    char* bytes = (char*)malloc(length + 2);
    if (bytes && !ReadFile(file, bytes, length, &got, NULL)) got = 0;
    CloseHandle(file);
    if (bytes) bytes[got] = bytes[got + 1] = 0; /* also a wide zero */
    if (size) *size = got;
    return bytes;
}

/* Writes data to path under another name first, then renames it. */
static inline BOOL WhWriteWhole(const wchar_t* path, const void* data, DWORD size) {
    wchar_t partial[MAX_PATH + 8];
    DWORD written = 0;
    swprintf(partial, MAX_PATH + 8, L"%ls.part", path);
    HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    BOOL done = file != INVALID_HANDLE_VALUE && WriteFile(file, data, size, &written, NULL) && written == size;
    CloseHandle(file);
    return done && MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING);
}

/* Gives the key sub of root the access list of sddl; the Windows error. */
static inline LONG WhSetKeyAccess(HKEY root, const wchar_t* sub, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    HKEY key;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL)) {
        return (LONG)GetLastError();
    }
    LONG result = RegOpenKeyExW(root, sub, 0, WRITE_DAC | READ_CONTROL, &key);
    if (result == ERROR_SUCCESS) {
        result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return result;
}

/* Wine now and then fails to start a process: the new one ends before Wine
 * has set it up and CreateProcess reports ERROR_INTERNAL_ERROR, or a program
 * the shell started never runs. That is Wine's, not the program's, so such a
 * start is tried once more, and only once. start returns 0 when the program
 * started, ERROR_INTERNAL_ERROR for a start Wine lost, or another error;
 * *retried tells whether it was called twice. */
static inline DWORD WhStartOnceMore(DWORD (*start)(void* context), void* context, int* retried) {
    DWORD error = start(context);
    *retried = error == ERROR_INTERNAL_ERROR;
    return *retried ? start(context) : error;
}

/* NULL program: the line's first word; NULL folder: ours; NULL desktop: ours too. */
typedef struct {
    const wchar_t *program, *commandLine, *folder, *desktop;
    PROCESS_INFORMATION* process;
} WhProcessStart;

static inline DWORD WhCreateProcess(void* context) {
    static wchar_t line[32768], desktop[256]; /* CreateProcessW may write into both */
    WhProcessStart* s = (WhProcessStart*)context;
    STARTUPINFOW startup = {sizeof(startup), NULL, NULL, NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL};
    if (s->desktop) startup.lpDesktop = wcsncpy(desktop, s->desktop, 255);
    wcsncpy(line, s->commandLine, 32767);
    return CreateProcessW(s->program, line, NULL, NULL, FALSE, 0, NULL, s->folder, &startup, s->process)
               ? 0
               : GetLastError();
}

/* CreateProcessW through WhStartOnceMore, on desktop ("station\\desktop"):
 * 0, or the error of the last start. */
static inline DWORD WhStartProcess(const wchar_t* program, const wchar_t* commandLine, const wchar_t* folder,
                                   const wchar_t* desktop, PROCESS_INFORMATION* process, int* retried) {
    WhProcessStart start = {program, commandLine, folder, desktop, process};
    return WhStartOnceMore(WhCreateProcess, &start, retried);
}

#endif
