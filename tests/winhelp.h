/* What the test programs that run inside a Wine prefix share (the end-to-end
 * driver and stand-in viewer, the tests of the Windows operations): finding
 * a message box and reading it, waiting for a file and reading it, writing
 * a file whole, giving a key an access list, and starting a program with
 * the one retry that a start Wine fails needs. C, for the C helpers and the
 * C++ tests alike; each includes it after windows.h. */
#ifndef KOMPAKTO_TEST_WINHELP_H
#define KOMPAKTO_TEST_WINHELP_H

#include <sddl.h>
#include <stdlib.h>
#include <wchar.h>

#define WH_TEXT_SIZE 8192

/* Controls of a message box: its text, and its icon in Wine and on Windows. */
enum { kWhBoxTextId = 0xFFFF, kWhWineBoxIconId = 0x440, kWhWindowsBoxIconId = 0x14 };

/* What a message box shows. */
typedef struct {
    wchar_t caption[WH_TEXT_SIZE];
    wchar_t text[WH_TEXT_SIZE];
    HWND owner;
    int buttons[9]; /* the visible ones, in the order of kWhButtons */
    int buttonCount;
    int focused;    /* the id of the box's focused control, -1 when none has the focus */
    HWND iconShown; /* the control that shows the icon, NULL when the box has none */
} WhBox;

static const int kWhButtons[9] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE};

typedef struct {
    DWORD process, thread; /* the owner asked for: one of them is 0 */
    HWND found;
} WhBoxSearch;

static inline BOOL CALLBACK WhNoteBox(HWND window, LPARAM search) {
    WhBoxSearch* s = (WhBoxSearch*)search;
    DWORD process = 0, thread = GetWindowThreadProcessId(window, &process);
    wchar_t type[16] = L"";
    if ((s->process ? process == s->process : thread == s->thread) && IsWindowVisible(window) &&
        GetClassNameW(window, type, 16) && wcscmp(type, L"#32770") == 0) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

/* The visible dialog of process, or of thread when process is 0; NULL when
 * there is none. */
static inline HWND WhFindBox(DWORD process, DWORD thread) {
    WhBoxSearch search = {process, thread, NULL};
    if (process) {
        EnumWindows(WhNoteBox, (LPARAM)&search);
    } else {
        EnumThreadWindows(thread, WhNoteBox, (LPARAM)&search);
    }
    return search.found;
}

/* Reads box into seen, once its thread runs the box's modal loop and it has
 * painted. */
static inline void WhReadBox(HWND box, WhBox* seen) {
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &icon);
    Sleep(150);
    seen->caption[0] = seen->text[0] = 0;
    GetWindowTextW(box, seen->caption, WH_TEXT_SIZE);
    GetDlgItemTextW(box, kWhBoxTextId, seen->text, WH_TEXT_SIZE);
    seen->owner = GetWindow(box, GW_OWNER);
    seen->buttonCount = 0;
    for (int i = 0; i < 9; i++) {
        if (IsWindowVisible(GetDlgItem(box, kWhButtons[i]))) seen->buttons[seen->buttonCount++] = kWhButtons[i];
    }
    GUITHREADINFO gui;
    ZeroMemory(&gui, sizeof(gui));
    gui.cbSize = sizeof(gui);
    seen->focused = GetGUIThreadInfo(GetWindowThreadProcessId(box, NULL), &gui) && gui.hwndFocus &&
                            GetParent(gui.hwndFocus) == box
                        ? GetDlgCtrlID(gui.hwndFocus)
                        : -1;
    seen->iconShown = GetDlgItem(box, kWhWineBoxIconId);
    if (!seen->iconShown) seen->iconShown = GetDlgItem(box, kWhWindowsBoxIconId);
    icon = 0;
    if (seen->iconShown && IsWindowVisible(seen->iconShown)) {
        SendMessageTimeoutW(seen->iconShown, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    }
    if (!icon) seen->iconShown = NULL;
}

/* The whole of the file at path with a zero after it, to be freed; NULL when
 * it cannot be read. */
static inline char* WhReadFile(const wchar_t* path, DWORD* size) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    DWORD length = GetFileSize(file, NULL), got = 0;
    char* bytes = (char*)malloc(length + 2);
    if (bytes && !ReadFile(file, bytes, length, &got, NULL)) got = 0;
    CloseHandle(file);
    if (bytes) bytes[got] = bytes[got + 1] = 0; /* also a wide zero */
    if (size) *size = got;
    return bytes;
}

/* Whether path is there within milliseconds. A writer that renames its file
 * into place (WhWriteWhole) leaves no half of it to be read. */
static inline int WhAwaitFile(const wchar_t* path, DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > milliseconds) return 0;
        Sleep(20);
    }
    return 1;
}

/* Writes data to path under another name first, then renames it. */
static inline BOOL WhWriteWhole(const wchar_t* path, const void* data, DWORD size) {
    wchar_t partial[MAX_PATH + 8];
    DWORD written = 0;
    swprintf(partial, MAX_PATH + 8, L"%ls.part", path);
    HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    BOOL done = WriteFile(file, data, size, &written, NULL) && written == size;
    CloseHandle(file);
    return done && MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING);
}

/* Gives the key sub of root the access list of sddl; the Windows error. */
static inline LONG WhSetKeyAccess(HKEY root, const wchar_t* sub, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL)) {
        return (LONG)GetLastError();
    }
    HKEY key;
    LONG result = RegOpenKeyExW(root, sub, 0, WRITE_DAC | READ_CONTROL, &key);
    if (result == ERROR_SUCCESS) {
        result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return result;
}

/* Wine now and then fails to start a process: the new one ends before Wine
 * has set it up, CreateProcess reports ERROR_INTERNAL_ERROR, or a program the
 * shell started never runs. That is Wine's, not the started program's, so such
 * a start is tried once more, and only once: start returns 0 when the program
 * started, ERROR_INTERNAL_ERROR for a start that Wine lost, or another error.
 * *retried tells whether a second start was made. */
static inline DWORD WhStartOnceMore(DWORD (*start)(void* context), void* context, int* retried) {
    DWORD error = start(context);
    *retried = error == ERROR_INTERNAL_ERROR;
    return *retried ? start(context) : error;
}

typedef struct {
    const wchar_t* program; /* NULL: the command line's first word */
    const wchar_t* commandLine;
    const wchar_t* folder; /* NULL: this one's */
    PROCESS_INFORMATION* process;
} WhProcessStart;

static inline DWORD WhCreateProcess(void* context) {
    static wchar_t commandLine[32768]; /* CreateProcessW may write into it */
    WhProcessStart* s = (WhProcessStart*)context;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    wcsncpy(commandLine, s->commandLine, 32767);
    commandLine[32767] = 0;
    return CreateProcessW(s->program, commandLine, NULL, NULL, FALSE, 0, NULL, s->folder, &startup, s->process)
               ? 0
               : GetLastError();
}

/* Starts a program, tried once more when Wine fails the start: 0 or the
 * error of the last start. */
static inline DWORD WhStartProcess(const wchar_t* program, const wchar_t* commandLine, const wchar_t* folder,
                                   PROCESS_INFORMATION* process, int* retried) {
    WhProcessStart start = {program, commandLine, folder, process};
    return WhStartOnceMore(WhCreateProcess, &start, retried);
}

#endif
