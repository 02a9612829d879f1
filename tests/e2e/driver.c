/* The end-to-end driver: runs inside the Wine prefix next to kompakto.exe,
 * starts it with an exact command line, answers its message boxes from
 * outside, and records what it saw.
 *
 *   driver.exe SCRIPT TRANSCRIPT
 *
 * SCRIPT is UTF-8, one step a line, fields separated by tabs. Inside a field
 * \\ \t \r \n stand for a backslash, tab, carriage return and line feed.
 * TRANSCRIPT is written as UTF-8, one JSON object a line, flushed line by
 * line so that a driver killed half-way still leaves what it saw. The steps
 * are those of kSteps, below.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// After windows.h, which they build on.
#include <shellapi.h>
#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../winhelp.h"

#define MAX_FIELDS 8

static HANDLE g_out = INVALID_HANDLE_VALUE;
static char g_step[32]; /* the name of the step that runs, that of its event too */
static DWORD g_startTick;
static PROCESS_INFORMATION g_proc;
static int g_running, g_retried; /* g_retried: whether Wine lost the last start (WhStartOnceMore) */
static HMODULE g_program;        /* the started program's file, loaded as data for its icon */

/* ---- transcript ------------------------------------------------------- */

static char g_line[65536];
static int g_lineLength;

static void PutChar(char c) {
    if (g_lineLength < (int)sizeof(g_line) - 8) g_line[g_lineLength++] = c;
}

static void Put(const char* text) {
    while (*text) PutChar(*text++);
}

static void PutJsonString(const wchar_t* text, int length) {
    char utf8[8];
    Put("\"");
    for (int i = 0; i < length; i++) {
        wchar_t c = text[i];
        if (c == L'"' || c == L'\\') {
            PutChar('\\');
            PutChar((char)c);
        } else if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF)) {
            /* Surrogates too go through as escapes, paired or not. */
            snprintf(utf8, sizeof(utf8), "\\u%04x", (unsigned)c);
            Put(utf8);
        } else {
            int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, utf8, sizeof(utf8) - 1, NULL, NULL);
            utf8[n > 0 ? n : 0] = 0;
            Put(utf8);
        }
    }
    Put("\"");
}

/* Adds fields to the event begun last. format names them, each as KEY:KIND,
 * one space between two; each kind takes its arguments in turn:
 *   s  const wchar_t* (NULL gives null)    n  const wchar_t* (not NULL), int length
 *   r  const char* (JSON as it is)         b  int (true or false)
 *   d  int                                 u  DWORD, or a LONG that is no error
 *   q  long long */
static void AddFields(const char* format, va_list args) {
    while (*format) {
        Put(",\"");
        while (*format != ':') PutChar(*format++);
        Put("\":");
        char kind = format[1];
        format += format[2] ? 3 : 2;
        if (kind == 's' || kind == 'n') {
            const wchar_t* text = va_arg(args, const wchar_t*);
            if (text) {
                PutJsonString(text, kind == 'n' ? va_arg(args, int) : (int)wcslen(text));
            } else {
                Put("null");
            }
        } else if (kind == 'r') {
            Put(va_arg(args, const char*));
        } else if (kind == 'b') {
            Put(va_arg(args, int) ? "true" : "false");
        } else {
            char number[32];
            long long value = kind == 'd'   ? va_arg(args, int)
                              : kind == 'u' ? (long long)va_arg(args, DWORD)
                                            : va_arg(args, long long);
            snprintf(number, sizeof(number), "%lld", value);
            Put(number);
        }
    }
}

static void Add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AddFields(format, args);
    va_end(args);
}

/* Begins an event with the fields of format; its time is taken after the arguments are. */
static void Begin(const char* event, const char* format, ...) {
    va_list args;
    g_lineLength = 0;
    Put("{\"event\":\"");
    Put(event);
    Put("\"");
    Add("ms:u", GetTickCount() - g_startTick);
    va_start(args, format);
    AddFields(format, args);
    va_end(args);
}

static void End(void) {
    DWORD written;
    Put("}\n");
    WriteFile(g_out, g_line, (DWORD)g_lineLength, &written, NULL);
}

/* A whole event at once. */
#define Emit(...) (Begin(__VA_ARGS__), End())

/* ---- script ----------------------------------------------------------- */

/* Splits line (changed in place) at tabs into fields and undoes the escapes. */
static int SplitFields(wchar_t* line, wchar_t** fields) {
    int count = 1;
    wchar_t *read = line, *write = line;
    fields[0] = line;
    while (*read) {
        if (*read == L'\t') {
            *write++ = 0;
            read++;
            if (count == MAX_FIELDS) break;
            fields[count++] = write;
        } else if (*read == L'\\' && read[1]) {
            wchar_t c = read[1];
            *write++ = c == L't' ? L'\t' : c == L'r' ? L'\r' : c == L'n' ? L'\n' : c;
            read += 2;
        } else {
            *write++ = *read++;
        }
    }
    *write = 0;
    return count;
}

/* A UTF-8 file as UTF-16, once it is there (within waitMs), to be freed; NULL when it is not. */
static wchar_t* ReadTextFile(const wchar_t* path, DWORD waitMs, int* length) {
    DWORD got = 0;
    char* bytes = WhAwaitFile(path, waitMs, &got);
    if (!bytes) return NULL;
    wchar_t* wide = (wchar_t*)malloc((got + 1) * sizeof(wchar_t));
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)got, wide, (int)got);
    wide[n] = 0;
    free(bytes);
    if (length) *length = n;
    return wide;
}

static DWORD Ms(const wchar_t* field) { return (DWORD)wcstoul(field, NULL, 10); }

/* ---- message boxes ---------------------------------------------------- */

static HWND FindBox(void) { return WhFindBox(g_proc.dwProcessId, 0); }

static int ProcessEnded(void) { return WaitForSingleObject(g_proc.hProcess, 0) == WAIT_OBJECT_0; }

/* How far two pictures of the same size differ: the share of pixels, in
 * thousandths, whose colour differs by more than a little. */
static int Difference(const DWORD* a, const DWORD* b, int count) {
    int differ = 0;
    for (int i = 0; i < count; i++) {
        int dr = (int)((a[i] >> 16) & 0xFF) - (int)((b[i] >> 16) & 0xFF);
        int dg = (int)((a[i] >> 8) & 0xFF) - (int)((b[i] >> 8) & 0xFF);
        int db = (int)(a[i] & 0xFF) - (int)(b[i] & 0xFF);
        if (abs(dr) + abs(dg) + abs(db) > 24) differ++;
    }
    return count ? differ * 1000 / count : 1000;
}

static HBITMAP MakeDib(HDC dc, int width, int height, DWORD** bits) {
    /* Top-down, 32 bits a pixel: no colour table follows the header. */
    BITMAPINFOHEADER header = {sizeof(header), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    return CreateDIBSection(dc, (BITMAPINFO*)&header, DIB_RGB_COLORS, (void**)bits, NULL, 0);
}

/* Which icon the box shows in iconControl, told by its pixels on the screen:
 * one of the system's four message box icons, "program" for the icon "i" of
 * the started program's own file, "other" for any other picture, or "none"
 * when the box has no icon. An icon handle of another process cannot be
 * looked into, so the picture on the screen is what is compared. */
static const wchar_t* ClassifyIcon(HWND iconControl) {
    static const wchar_t* const kNames[] = {L"information", L"error", L"warning", L"question", L"program"};
    static const LPCWSTR kIds[] = {IDI_INFORMATION, IDI_ERROR, IDI_WARNING, IDI_QUESTION, NULL /* the program's */};
    if (!iconControl) return L"none";
    RECT rect;
    GetWindowRect(iconControl, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return L"other";
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    DWORD *shot, *drawn;
    HBITMAP shotBitmap = MakeDib(screen, width, height, &shot);
    HBITMAP drawnBitmap = MakeDib(screen, width, height, &drawn);
    HGDIOBJ old = SelectObject(memory, shotBitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, drawnBitmap);

    const wchar_t* best = L"other";
    int bestDifference = 1000;
    for (size_t i = 0; i < ARRAYSIZE(kIds); i++) {
        HICON candidate = kIds[i] ? LoadIconW(NULL, kIds[i]) : g_program ? LoadIconW(g_program, L"i") : NULL;
        if (!candidate) continue;
        /* The control's corner is background: icons leave it transparent. */
        for (int p = 0; p < width * height; p++) drawn[p] = shot[0];
        DrawIconEx(memory, 0, 0, candidate, 0, 0, 0, NULL, DI_NORMAL);
        GdiFlush();
        int difference = Difference(shot, drawn, width * height);
        if (difference < bestDifference) {
            bestDifference = difference;
            if (difference <= 20) best = kNames[i];
        }
    }
    SelectObject(memory, old);
    DeleteObject(drawnBitmap);
    DeleteObject(shotBitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return best;
}

/* The visible buttons' ids as a JSON list. */
static const char* Buttons(const WhBox* seen) {
    static char list[128];
    int length = snprintf(list, sizeof(list), "[");
    for (int i = 0; i < seen->buttonCount; i++) {
        length += snprintf(list + length, sizeof(list) - length, "%s%d", i ? "," : "", seen->buttons[i]);
    }
    snprintf(list + length, sizeof(list) - length, "]");
    return list;
}

static int DefaultStyledButton(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32];
        if (GetClassNameW(child, className, 32) && _wcsicmp(className, L"Button") == 0 && IsWindowVisible(child) &&
            (GetWindowLongW(child, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) {
            return GetDlgCtrlID(child);
        }
    }
    return -1;
}

static int Gone(HWND box, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindowVisible(box) && GetTickCount() - start <= timeoutMs) Sleep(20);
    return !IsWindowVisible(box);
}

/* Carries out action on box; false when the action is unknown. A button is
 * clicked, a key goes to the focused control, close is the close box. */
static int Act(HWND box, const wchar_t* action, HWND focus) {
    static const struct {
        const wchar_t* name;
        UINT message;
        WPARAM wParam;
    } kActions[] = {{L"ok", WM_COMMAND, IDOK},           {L"cancel", WM_COMMAND, IDCANCEL},
                    {L"yes", WM_COMMAND, IDYES},         {L"no", WM_COMMAND, IDNO},
                    {L"enter", WM_KEYDOWN, VK_RETURN},   {L"esc", WM_KEYDOWN, VK_ESCAPE},
                    {L"close", WM_SYSCOMMAND, SC_CLOSE}, {L"wm_close", WM_CLOSE, 0}};
    for (size_t i = 0; i < ARRAYSIZE(kActions); i++) {
        UINT message = kActions[i].message;
        WPARAM wParam = kActions[i].wParam;
        if (wcscmp(action, kActions[i].name) != 0) continue;
        if (message == WM_KEYDOWN) {
            PostMessageW(focus ? focus : box, WM_KEYDOWN, wParam, 1);
            PostMessageW(focus ? focus : box, WM_KEYUP, wParam, 0xC0000001);
        } else {
            /* BN_CLICKED is 0: a button's wParam is its id alone. */
            PostMessageW(box, message, wParam, message == WM_COMMAND ? (LPARAM)GetDlgItem(box, (int)wParam) : 0);
        }
        return 1;
    }
    return 0;
}

/* Wine 8 draws the first box of a process with the title bar of a window in
 * the background: the box activates itself (the focus on its default button)
 * before its process holds the foreground, and taking the foreground after
 * that sends it nothing more. Handing the foreground to a window of the
 * driver and back has Wine activate the box again, and draw it as Windows
 * shows a box that comes to the front. */
static void DrawActive(HWND box) {
    HWND other = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, -10, -10, 1, 1, NULL, NULL,
                                 NULL, NULL);
    SetForegroundWindow(other);
    Sleep(100);
    SetForegroundWindow(box);
    Sleep(100);
    DestroyWindow(other);
}

/* Reports everything about box as one event; then does action to it, or,
 * for a box with another caption than expected, whatever makes it go away,
 * so that the program can run on. */
static void ReportAndAct(const char* event, HWND box, const wchar_t* expectedCaption, const wchar_t* action) {
    static WhBox seen;
    WhReadBox(box, &seen);
    HWND focus = seen.focused == -1 ? NULL : GetDlgItem(box, seen.focused);
    const wchar_t* icon = ClassifyIcon(seen.iconShown);
    for (int attempt = 0; attempt < 10 && wcscmp(icon, L"other") == 0; attempt++) {
        Sleep(100); /* not painted yet, or covered for a moment */
        icon = ClassifyIcon(seen.iconShown);
    }

    const wchar_t* done = expectedCaption && wcscmp(seen.caption, expectedCaption) == 0 ? action : L"wm_close";
    Begin(event, "caption:s text:s buttons:r focus:d defstyle:d icon:s foreground:b action:s", seen.caption, seen.text,
          Buttons(&seen), seen.focused, DefaultStyledButton(box), icon, GetForegroundWindow() == box, done);
    if (wcscmp(done, L"picture") == 0) {
        DrawActive(box);
    } else if (wcscmp(done, L"hold") != 0) {
        int gone = Act(box, done, focus) && Gone(box, 5000);
        /* Still there: take the first button that closes it, Cancel or OK. */
        for (int closed = gone, i = 0; !closed && i < 2; i++) {
            PostMessageW(box, WM_COMMAND, i ? IDOK : IDCANCEL, 0);
            closed = Gone(box, 1000);
        }
        Add("closed:b", gone);
    }
    End();
}

/* ---- process ---------------------------------------------------------- */

static void Kill(void) {
    TerminateProcess(g_proc.hProcess, 999);
    WaitForSingleObject(g_proc.hProcess, 5000);
}

static DWORD Reap(void) {
    DWORD code = 0;
    GetExitCodeProcess(g_proc.hProcess, &code);
    CloseHandle(g_proc.hProcess);
    CloseHandle(g_proc.hThread);
    g_running = 0;
    return code;
}

/* The desktop "Default" of a window station named station that nobody sees,
 * as a service's or a task's that runs whether the user is logged on or not,
 * kept for the driver's life; NULL when Windows refuses. */
static const wchar_t* HiddenDesktop(const wchar_t* station) {
    static wchar_t name[256];
    HWINSTA own = GetProcessWindowStation(), made = CreateWindowStationW(station, 0, WINSTA_ALL_ACCESS, NULL);
    HDESK desktop = NULL;
    if (made && SetProcessWindowStation(made)) {
        desktop = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
        SetProcessWindowStation(own);
    }
    swprintf(name, 256, L"%ls\\Default", station);
    return desktop ? name : NULL;
}

static void StepStart(wchar_t** f) {
    const wchar_t* desktop = f[4] ? HiddenDesktop(f[4]) : NULL;
    DWORD error = f[4] && !desktop ? GetLastError() | 0x20000000 : 0; /* not started elsewhere instead */
    if (g_program) FreeLibrary(g_program);
    g_program = f[1][0] ? LoadLibraryExW(f[1], NULL, LOAD_LIBRARY_AS_DATAFILE) : NULL;
    if (!error)
        error = WhStartProcess(f[1][0] ? f[1] : NULL, f[2], f[3][0] ? f[3] : NULL, desktop, &g_proc, &g_retried);
    g_running = error == 0;
    Emit("start", "app:s cmdline:s station:s started:b error:u retried:b", f[1], f[2], f[4], g_running, error,
         g_retried);
}

/* Waits for the next box of the started program, reports it, then does ACTION
 * to it (see Act); hold leaves it open for a later box step, and picture
 * leaves it open drawn active (DrawActive). */
static void StepBox(wchar_t** f) {
    DWORD start = GetTickCount();
    HWND box = NULL;
    int ended = 0;
    while (g_running && !(box = FindBox()) && !(ended = ProcessEnded()) && GetTickCount() - start <= Ms(f[2])) {
        Sleep(20);
    }
    if (ended) box = FindBox(); /* one shown at the very end */
    if (box) {
        ReportAndAct("box", box, f[1], f[3]);
    } else {
        Emit("no_box", "reason:s expected:s", !g_running ? L"not started" : ended ? L"exited" : L"timeout", f[1]);
    }
}

/* Waits for the program's end; a box shown meanwhile is unexpected, and closed. */
static void StepFinish(wchar_t** f) {
    DWORD start = GetTickCount();
    int unexpected = 0, timedOut = 0;
    if (!g_running) {
        Emit("exit", "reason:s", L"not started");
        return;
    }
    while (!ProcessEnded() && !timedOut) {
        HWND box = FindBox();
        if (box && unexpected < 5) {
            unexpected++;
            ReportAndAct("unexpected_box", box, NULL, NULL);
        } else if (!(timedOut = GetTickCount() - start > Ms(f[1]))) {
            Sleep(20);
        }
    }
    if (timedOut) Kill();
    DWORD code = Reap();
    Emit("exit", timedOut ? "reason:s" : "reason:s code:u", timedOut ? L"timeout" : L"ended", code);
}

/* ---- registry --------------------------------------------------------- */

static HKEY Root(const wchar_t** path) {
    if (_wcsnicmp(*path, L"HKLM\\", 5) != 0) return HKEY_CURRENT_USER;
    *path += 5;
    return HKEY_LOCAL_MACHINE;
}

static void DumpKey(const wchar_t* path) {
    static wchar_t name[16384];
    static BYTE data[65536];
    HKEY key;
    const wchar_t* sub = path;
    HKEY root = Root(&sub);
    LONG result = RegOpenKeyExW(root, sub, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        Emit(result == ERROR_FILE_NOT_FOUND ? "missing" : "key_error", "key:s error:u", path, result);
        return;
    }
    Emit("key", "key:s", path);
    for (DWORD index = 0;; index++) {
        DWORD nameLength = 16384, dataSize = sizeof(data) - 4, type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, NULL, &type, data, &dataSize) != ERROR_SUCCESS) break;
        Begin("value", "key:s name:n type:u bytes:u", path, name, (int)nameLength, type, dataSize);
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            int chars = (int)(dataSize / sizeof(wchar_t));
            const wchar_t* text = (const wchar_t*)data;
            int terminated = chars > 0 && text[chars - 1] == 0;
            Add("data:n terminated:b", text, terminated ? chars - 1 : chars, terminated);
        } else {
            char hex[2 + 2 * 1024 + 1] = "\"";
            for (DWORD i = 0; i < dataSize && i < 1024; i++) snprintf(hex + 1 + 2 * i, 3, "%02x", data[i]);
            Add("hex:r", strcat(hex, "\""));
        }
        End();
    }
    for (DWORD index = 0;; index++) {
        wchar_t child[2048];
        DWORD nameLength = 16384;
        if (RegEnumKeyExW(key, index, name, &nameLength, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        swprintf(child, 2048, L"%ls\\%ls", path, name);
        DumpKey(child);
    }
    RegCloseKey(key);
}

/* Creates the key sub of root with options, then stores data, if any, as the REG_SZ value name; the error. */
static LONG WriteKey(HKEY root, const wchar_t* sub, DWORD options, const wchar_t* name, const wchar_t* data) {
    HKEY key;
    LONG result = RegCreateKeyExW(root, sub, 0, NULL, options, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (result != ERROR_SUCCESS) return result;
    DWORD size = data ? (DWORD)((wcslen(data) + 1) * sizeof(wchar_t)) : 0;
    if (data) result = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)data, size);
    RegCloseKey(key);
    return result;
}

/* The steps that change the key PATH: each reports the Windows error in an
 * event of its own name. reg_copy stores the default value of PATH in TO. */
static void StepRegistry(wchar_t** f) {
    static wchar_t value[8192];
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const wchar_t *sub = f[1], *to = f[2];
    HKEY root = Root(&sub);
    LONG result;
    if (wcscmp(f[0], L"reg_delete_tree") == 0) {
        result = RegDeleteTreeW(root, sub);
    } else if (wcscmp(f[0], L"reg_sddl") == 0) {
        result = WhSetKeyAccess(root, sub, f[2]);
    } else if (wcscmp(f[0], L"reg_copy") == 0) {
        result = RegGetValueW(root, sub, L"", RRF_RT_REG_SZ, NULL, value, &size);
        HKEY toRoot = Root(&to);
        if (result == ERROR_SUCCESS) result = WriteKey(toRoot, to, 0, L"", value);
    } else {
        result = WriteKey(root, sub, wcscmp(f[0], L"reg_volatile_key") ? 0 : REG_OPTION_VOLATILE, f[2], f[3]);
    }
    Emit(g_step, "key:s result:u", f[1], result);
}

static void StepDump(wchar_t** f) { DumpKey(f[1]); }

/* ---- files and the verb ----------------------------------------------- */

/* exists, wait_file and read_file: whether PATH is there, after a wait for it
 * to appear; read_file reports what it holds too (the stand-in renames its
 * file into place whole). */
static void StepFile(wchar_t** f) {
    int length = 0;
    wchar_t* content = ReadTextFile(f[1], f[2] ? Ms(f[2]) : 0, &length);
    Begin(g_step, "path:s exists:b", f[1], content != NULL);
    if (content && wcscmp(f[0], L"read_file") == 0) Add("content:n", content, length);
    End();
    free(content);
}

static SHELLEXECUTEINFOW g_shell;
static BOOL g_shellDone;
static DWORD ShellStart(void* fields) {
    wchar_t** f = (wchar_t**)fields;
    g_shell = (SHELLEXECUTEINFOW){.cbSize = sizeof(g_shell), .lpVerb = f[1], .lpFile = f[2], .nShow = SW_SHOWNORMAL};
    g_shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    g_shellDone = ShellExecuteExW(&g_shell);
    return g_shellDone ? 0 : GetLastError();
}

/* Runs a verb on a path as Explorer does: the shell reads the verb's command
 * from the item's class and puts the path in place of %1. */
static void StepShellVerb(wchar_t** f) {
    DWORD error = WhStartOnceMore(ShellStart, f, &g_retried);
    Emit("shell_verb", "path:s done:b error:u retried:b", f[2], g_shellDone, error, g_retried);
    if (g_shell.hProcess) {
        WaitForSingleObject(g_shell.hProcess, Ms(f[3]));
        CloseHandle(g_shell.hProcess);
    }
}

static void StepSetEnv(wchar_t** f) { SetEnvironmentVariableW(f[1], f[2]); }

/* The first argument of the last "Call DLL.FUNCTION(" line in the log, 0
 * when there is none. */
static ULONGLONG LastCallArgument(const wchar_t* log, const wchar_t* function) {
    wchar_t needle[256];
    ULONGLONG argument = 0;
    swprintf(needle, 256, L".%ls(", function);
    wchar_t* text = ReadTextFile(log, 0, NULL);
    for (wchar_t* at = text ? wcsstr(text, needle) : NULL; at; at = wcsstr(at + 1, needle)) {
        argument = wcstoull(at + wcslen(needle), NULL, 16);
    }
    free(text);
    return argument;
}

/* The record behind a pointer: SIZE bytes of the started program at the first
 * argument of its last call of FUNCTION that the relay trace LOG shows. */
static void StepPeek(wchar_t** f) {
    static BYTE bytes[1024];
    char hex[2 + 2 * sizeof(bytes) + 1] = "\"";
    DWORD start = GetTickCount(), size = Ms(f[3]) < sizeof(bytes) ? Ms(f[3]) : sizeof(bytes);
    ULONGLONG address = 0;
    SIZE_T got = 0;
    while (!(address = LastCallArgument(f[1], f[2])) && GetTickCount() - start < Ms(f[4])) Sleep(50);
    if (address && g_running) {
        ReadProcessMemory(g_proc.hProcess, (LPCVOID)(ULONG_PTR)address, bytes, size, &got);
    }
    for (SIZE_T i = 0; i < got; i++) snprintf(hex + 1 + 2 * i, 3, "%02x", bytes[i]);
    Emit("peek", "function:s address:q bytes:r", f[2], (long long)address, strcat(hex, "\""));
}

static void StepDeleteFile(wchar_t** f) { DeleteFileW(f[1]); }
static void StepMakeFolder(wchar_t** f) { SHCreateDirectoryExW(NULL, f[1], NULL); } /* with its parents */

/* ---- timing ----------------------------------------------------------- */

/* One start of program until its box with caption is there; then Cancel
 * and the wait for its end. */
static void TimeOne(int round, int index, const wchar_t* caption, const wchar_t* program, LARGE_INTEGER frequency) {
    static wchar_t commandLine[MAX_PATH + 3];
    STARTUPINFOW startup = {.cb = sizeof(startup)};
    LARGE_INTEGER start, found;
    HWND box = NULL;
    swprintf(commandLine, MAX_PATH + 3, L"\"%ls\"", program);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &g_proc)) {
        Emit("timed_fail", "error:u", GetLastError());
        return;
    }
    g_running = 1;
    for (;;) {
        box = FindBox();
        QueryPerformanceCounter(&found);
        if (box || ProcessEnded() || (found.QuadPart - start.QuadPart) / frequency.QuadPart > 20) break;
        Sleep(1);
    }
    if (box) {
        wchar_t seen[256];
        GetWindowTextW(box, seen, 256);
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        box = wcscmp(seen, caption) == 0 ? box : NULL;
    }
    if (WaitForSingleObject(g_proc.hProcess, 5000) != WAIT_OBJECT_0) Kill();
    Emit(box ? "timed" : "timed_fail", "round:d index:d us:q code:u", round, index,
         (found.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart, Reap());
}

/* A warm-up round and ROUNDS rounds over the pairs of caption and program,
 * the order turned round every other round. */
static void StepTimeBoxes(wchar_t** f) {
    wchar_t** pairs = f + 2;
    int rounds = _wtoi(f[1]), count = 0;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    while (pairs[2 * count] && pairs[2 * count + 1]) count++;
    for (int round = 0; round <= rounds; round++) {
        for (int k = 0; k < count; k++) {
            int index = round % 2 ? count - 1 - k : k;
            TimeOne(round, index, pairs[2 * index], pairs[2 * index + 1], frequency);
        }
    }
}

/* ---- main ------------------------------------------------------------- */

static void StepSystem(wchar_t** f) {
    static wchar_t w6432[4096], expanded[4096], wow64[4096];
    (void)f;
    expanded[0] = 0;
    ExpandEnvironmentStringsW(L"%ProgramW6432%\\", expanded, 4096);
    Emit("system", "acp:d program_w6432:s expanded_w6432:s wow64:b", GetACP(),
         GetEnvironmentVariableW(L"ProgramW6432", w6432, 4096) ? w6432 : NULL, expanded,
         GetSystemWow64DirectoryW(wow64, 4096) != 0);
}

/* case and label. A case also marks its start in the standard error, where
 * a relay trace of the programs it starts goes too. */
static void StepMark(wchar_t** f) {
    static char name[4096];
    if (strcmp(g_step, "case") == 0 && WideCharToMultiByte(CP_UTF8, 0, f[1], -1, name, sizeof(name), NULL, NULL)) {
        fprintf(stderr, "kompakto-e2e: case %s\n", name);
    }
    Emit(g_step, "name:s", f[1]);
}

/* The steps: each with the fields that follow its name, those in brackets
 * optional. A start with a STATION starts the program on the desktop of a
 * window station of that name that nobody sees (HiddenDesktop). A TIMEOUT_MS
 * field is a wait, which the Wine session adds to the driver's time
 * (tools/winesession.py reads this table). A registry PATH is under
 * HKEY_CURRENT_USER, or under HKEY_LOCAL_MACHINE when it starts with HKLM\. */
static const struct {
    const wchar_t* name;
    const wchar_t* fields;
    void (*run)(wchar_t** f);
} kSteps[] = {
    {L"case", L"NAME", StepMark},
    {L"label", L"NAME", StepMark},
    {L"system", L"", StepSystem},
    {L"exists", L"PATH", StepFile},
    {L"wait_file", L"PATH TIMEOUT_MS", StepFile},
    {L"read_file", L"PATH TIMEOUT_MS", StepFile},
    {L"delete_file", L"PATH", StepDeleteFile},
    {L"make_folder", L"PATH", StepMakeFolder},
    {L"reg_delete_tree", L"PATH", StepRegistry},
    {L"reg_key", L"PATH", StepRegistry},
    {L"reg_volatile_key", L"PATH", StepRegistry},
    {L"reg_set", L"PATH NAME DATA", StepRegistry},
    {L"reg_sddl", L"PATH SDDL", StepRegistry},
    {L"reg_copy", L"FROM TO", StepRegistry},
    {L"dump", L"PATH", StepDump},
    {L"start", L"APP CMDLINE CWD [STATION]", StepStart},
    {L"box", L"CAPTION TIMEOUT_MS ACTION", StepBox},
    {L"finish", L"TIMEOUT_MS", StepFinish},
    {L"shell_verb", L"VERB PATH TIMEOUT_MS", StepShellVerb},
    {L"time_boxes", L"ROUNDS CAPTION PROGRAM [CAPTION PROGRAM]", StepTimeBoxes},
    {L"setenv", L"NAME VALUE", StepSetEnv},
    {L"peek", L"LOG FUNCTION SIZE TIMEOUT_MS", StepPeek},
};

/* The fields a step needs, its name included: those not in brackets. */
static int Needed(const wchar_t* fields) {
    int count = 1;
    for (const wchar_t* at = fields; *at && *at != L'['; at++) {
        count += at[0] != L' ' && (at == fields || at[-1] == L' ');
    }
    return count;
}

static void RunStep(wchar_t** f, int n) {
    size_t i = 0;
    WideCharToMultiByte(CP_UTF8, 0, f[0], -1, g_step, sizeof(g_step), NULL, NULL);
    while (i < ARRAYSIZE(kSteps) && wcscmp(f[0], kSteps[i].name) != 0) i++;
    if (i < ARRAYSIZE(kSteps) && n >= Needed(kSteps[i].fields)) {
        kSteps[i].run(f);
    } else {
        Emit("bad_step", "step:s", f[0]);
    }
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    g_startTick = GetTickCount();
    g_out = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    wchar_t* script = ReadTextFile(argv[1], 0, NULL);
    if (g_out == INVALID_HANDLE_VALUE || !script) return 3;
    for (wchar_t *line = script, *next; line; line = next) {
        next = wcschr(line, L'\n');
        if (next) *next++ = 0;
        size_t length = wcslen(line);
        if (length && line[length - 1] == L'\r') line[length - 1] = 0;
        if (line[0] && line[0] != L'#') {
            wchar_t* fields[MAX_FIELDS + 1] = {NULL}; /* those not given are NULL */
            int n = SplitFields(line, fields);
            RunStep(fields, n);
        }
    }
    /* A script that forgot to finish: leave nothing behind. */
    if (g_running) TerminateProcess(g_proc.hProcess, 999);
    Emit("done", "script:s", argv[1]);
    CloseHandle(g_out);
    free(script);
    return 0;
}
