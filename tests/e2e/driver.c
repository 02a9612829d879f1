/* The end-to-end driver: runs inside the Wine prefix next to kompakto.exe,
 * starts it with an exact command line, answers its message boxes from
 * outside, and records what it saw.
 *
 *   driver.exe SCRIPT TRANSCRIPT
 *
 * SCRIPT is UTF-8, one step a line, fields separated by tabs. Inside a field
 * \\ \t \r \n stand for a backslash, tab, carriage return and line feed.
 * TRANSCRIPT is written as UTF-8, one JSON object a line, flushed line by
 * line so that a driver killed half-way still leaves what it saw.
 *
 * Steps (registry paths are under HKEY_CURRENT_USER, or under
 * HKEY_LOCAL_MACHINE when they start with HKLM\):
 *   case NAME                       starts a new case in the transcript
 *   label NAME                      marks a point in the transcript
 *   system                          reports the ANSI and OEM code pages and
 *                                   the program-files variables
 *   exists PATH                     reports whether PATH names anything
 *   reg_delete_tree PATH            removes PATH and everything below it
 *   reg_key PATH                    creates PATH
 *   reg_volatile_key PATH           creates PATH as a volatile key
 *   reg_set PATH NAME DATA          stores DATA as the REG_SZ value NAME
 *   reg_sddl PATH SDDL              gives the existing key PATH this DACL
 *   delete_file PATH
 *   make_folder PATH                creates PATH and its missing parents
 *   start APP CMDLINE CWD           CreateProcessW; empty APP or CWD = none
 *   box CAPTION TIMEOUT_MS ACTION   waits for the next box of the started
 *                                   process, reports it, then ACTION:
 *                                   yes no cancel ok (a button), enter, esc,
 *                                   close (the close box), wm_close, or hold
 *                                   (leave it open for a later box step)
 *   finish TIMEOUT_MS               waits for the process to end; any box
 *                                   that shows up meanwhile is reported as
 *                                   unexpected and closed
 *   dump PATH                       the key tree below PATH, values included
 *   reg_copy FROM TO                copies the default value of FROM to TO
 *   shell_verb VERB PATH TIMEOUT_MS runs VERB on PATH through the shell
 *                                   (ShellExecuteExW, its own %1), waits
 *                                   for what it started
 *   time_boxes ROUNDS CAPTION PROGRAM [CAPTION PROGRAM]
 *                                   times each program from its start until
 *                                   its box with CAPTION is there, then
 *                                   presses Cancel: a warm-up round and
 *                                   ROUNDS rounds, the order turned round
 *                                   every other round
 *   read_file PATH TIMEOUT_MS       waits for PATH to appear, reports it
 *   wait_file PATH TIMEOUT_MS       waits for PATH to appear
 *   sleep MS
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// After windows.h, which they build on.
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define MAX_FIELDS 8
#define TEXT_SIZE 8192

/* Controls of a message box. */
enum { kBoxTextId = 0xFFFF, kWineBoxIconId = 0x440, kWindowsBoxIconId = 0x14 };

static HANDLE g_out = INVALID_HANDLE_VALUE;
static PROCESS_INFORMATION g_proc;
static int g_running;
static HMODULE g_program; /* the started program's file, loaded as data for its icon */

/* ---- transcript ------------------------------------------------------- */

static char g_line[65536];
static int g_lineLength;

static void Put(const char* text) {
    while (*text && g_lineLength < (int)sizeof(g_line) - 8) {
        g_line[g_lineLength++] = *text++;
    }
}

static void PutJsonString(const wchar_t* text, int length) {
    char utf8[8];
    Put("\"");
    for (int i = 0; i < length; i++) {
        wchar_t c = text[i];
        if (c == L'"') {
            Put("\\\"");
        } else if (c == L'\\') {
            Put("\\\\");
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(utf8, sizeof(utf8), "\\u%04x", (unsigned)c);
            Put(utf8);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            /* Surrogates go through as escapes, paired or not. */
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

static DWORD g_startTick;

static void BeginEvent(const char* event) {
    char ms[32];
    g_lineLength = 0;
    Put("{\"event\":\"");
    Put(event);
    snprintf(ms, sizeof(ms), "\",\"ms\":%lu", (unsigned long)(GetTickCount() - g_startTick));
    Put(ms);
}

static void FieldText(const char* name, const wchar_t* value) {
    Put(",\"");
    Put(name);
    Put("\":");
    if (value) {
        PutJsonString(value, (int)wcslen(value));
    } else {
        Put("null");
    }
}

static void FieldTextN(const char* name, const wchar_t* value, int length) {
    Put(",\"");
    Put(name);
    Put("\":");
    PutJsonString(value, length);
}

static void FieldInt(const char* name, long long value) {
    char number[32];
    snprintf(number, sizeof(number), "%lld", value);
    Put(",\"");
    Put(name);
    Put("\":");
    Put(number);
}

static void FieldBool(const char* name, int value) {
    Put(",\"");
    Put(name);
    Put(value ? "\":true" : "\":false");
}

static void FieldRaw(const char* name, const char* json) {
    Put(",\"");
    Put(name);
    Put("\":");
    Put(json);
}

static void FieldAscii(const char* name, const char* value) {
    Put(",\"");
    Put(name);
    Put("\":\"");
    Put(value);
    Put("\"");
}

static void EndEvent(void) {
    DWORD written;
    Put("}\n");
    WriteFile(g_out, g_line, (DWORD)g_lineLength, &written, NULL);
}

static void Note(const char* event, const char* name, const wchar_t* text) {
    BeginEvent(event);
    FieldText(name, text);
    EndEvent();
}

/* ---- script ----------------------------------------------------------- */

/* Splits line (changed in place) at tabs and undoes the escapes. */
static int SplitFields(wchar_t* line, wchar_t** fields) {
    int count = 0;
    wchar_t* read = line;
    wchar_t* write = line;
    fields[count++] = write;
    while (*read) {
        if (*read == L'\t') {
            *write++ = 0;
            read++;
            if (count == MAX_FIELDS) {
                break;
            }
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

static wchar_t* ReadTextFile(const wchar_t* path, int* length) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return NULL;
    }
    DWORD size = GetFileSize(file, NULL);
    char* bytes = (char*)malloc(size + 1);
    DWORD got = 0;
    ReadFile(file, bytes, size, &got, NULL);
    CloseHandle(file);
    wchar_t* wide = (wchar_t*)malloc((got + 1) * sizeof(wchar_t));
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)got, wide, (int)got);
    wide[n] = 0;
    free(bytes);
    if (length) {
        *length = n;
    }
    return wide;
}

/* ---- message boxes ---------------------------------------------------- */

struct Finder {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK FindBoxOfProcess(HWND hwnd, LPARAM param) {
    struct Finder* finder = (struct Finder*)param;
    DWORD pid = 0;
    wchar_t className[64];
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != finder->pid || !IsWindowVisible(hwnd)) {
        return TRUE;
    }
    if (GetClassNameW(hwnd, className, 64) && wcscmp(className, L"#32770") == 0) {
        finder->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

static HWND FindBox(void) {
    struct Finder finder = {g_proc.dwProcessId, NULL};
    EnumWindows(FindBoxOfProcess, (LPARAM)&finder);
    return finder.found;
}

static int ProcessEnded(void) { return WaitForSingleObject(g_proc.hProcess, 0) == WAIT_OBJECT_0; }

/* How far two pictures of the same size differ: the share of pixels, in
 * thousandths, whose colour differs by more than a little. */
static int Difference(const DWORD* a, const DWORD* b, int count) {
    int differ = 0;
    for (int i = 0; i < count; i++) {
        int dr = (int)((a[i] >> 16) & 0xFF) - (int)((b[i] >> 16) & 0xFF);
        int dg = (int)((a[i] >> 8) & 0xFF) - (int)((b[i] >> 8) & 0xFF);
        int db = (int)(a[i] & 0xFF) - (int)(b[i] & 0xFF);
        if (abs(dr) + abs(dg) + abs(db) > 24) {
            differ++;
        }
    }
    return count ? differ * 1000 / count : 1000;
}

static HBITMAP MakeDib(HDC dc, int width, int height, DWORD** bits) {
    BITMAPINFO info;
    memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, (void**)bits, NULL, 0);
}

/* Which icon the box shows, told by its pixels on the screen: one of the
 * system's four message box icons, "program" for the icon "i" of the started
 * program's own file, "other" for any other picture, or "none" when the box
 * has no icon. An icon handle of another process cannot be looked into, so
 * the picture on the screen is what is compared. */
static const char* ClassifyIcon(HWND box, int* differenceOut) {
    static const struct {
        const char* name;
        LPCWSTR id;
    } kSystemIcons[] = {
        {"information", IDI_INFORMATION},
        {"error", IDI_ERROR},
        {"warning", IDI_WARNING},
        {"question", IDI_QUESTION},
    };
    HWND iconControl = GetDlgItem(box, kWineBoxIconId);
    if (!iconControl) {
        iconControl = GetDlgItem(box, kWindowsBoxIconId);
    }
    *differenceOut = -1;
    if (!iconControl || !IsWindowVisible(iconControl)) {
        return "none";
    }
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    if (!icon) {
        return "none";
    }
    RECT rect;
    GetWindowRect(iconControl, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) {
        return "other";
    }
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    DWORD* shot;
    HBITMAP shotBitmap = MakeDib(screen, width, height, &shot);
    HGDIOBJ old = SelectObject(memory, shotBitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);

    const char* best = "other";
    int bestDifference = 1000;
    int count = (int)(sizeof(kSystemIcons) / sizeof(kSystemIcons[0]));
    for (int i = 0; i <= count; i++) {
        HICON candidate;
        const char* name;
        if (i < count) {
            candidate = LoadIconW(NULL, kSystemIcons[i].id);
            name = kSystemIcons[i].name;
        } else {
            candidate = g_program ? LoadIconW(g_program, L"i") : NULL;
            name = "program";
        }
        if (!candidate) {
            continue;
        }
        DWORD* drawn;
        HBITMAP drawnBitmap = MakeDib(screen, width, height, &drawn);
        old = SelectObject(memory, drawnBitmap);
        /* The control's corner is background: icons leave it transparent. */
        for (int p = 0; p < width * height; p++) {
            drawn[p] = shot[0];
        }
        DrawIconEx(memory, 0, 0, candidate, 0, 0, 0, NULL, DI_NORMAL);
        GdiFlush();
        SelectObject(memory, old);
        int difference = Difference(shot, drawn, width * height);
        if (difference < bestDifference) {
            bestDifference = difference;
            if (difference <= 20) {
                best = name;
            }
        }
        DeleteObject(drawnBitmap);
    }
    DeleteObject(shotBitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    *differenceOut = bestDifference;
    return best;
}

static void ReportButtons(HWND box) {
    static const int kButtons[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, IDCONTINUE};
    char list[128] = "[";
    for (size_t i = 0; i < sizeof(kButtons) / sizeof(kButtons[0]); i++) {
        HWND button = GetDlgItem(box, kButtons[i]);
        if (button && IsWindowVisible(button)) {
            char number[16];
            snprintf(number, sizeof(number), "%s%d", list[1] ? "," : "", kButtons[i]);
            strcat(list, number);
        }
    }
    strcat(list, "]");
    FieldRaw("buttons", list);
}

/* The button that carries the default frame (BS_DEFPUSHBUTTON), -1 if none. */
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

static int WaitUntilGone(HWND box, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount() - start > timeoutMs) {
            return 0;
        }
        Sleep(20);
    }
    return 1;
}

static void PostKey(HWND target, UINT key) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

/* Carries out action on box; false when the action is unknown. */
static int Act(HWND box, const wchar_t* action, HWND focus) {
    static const struct {
        const wchar_t* name;
        int id;
    } kPress[] = {{L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"yes", IDYES}, {L"no", IDNO}};
    for (size_t i = 0; i < sizeof(kPress) / sizeof(kPress[0]); i++) {
        if (wcscmp(action, kPress[i].name) == 0) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(kPress[i].id, BN_CLICKED), (LPARAM)GetDlgItem(box, kPress[i].id));
            return 1;
        }
    }
    if (wcscmp(action, L"enter") == 0 || wcscmp(action, L"esc") == 0) {
        PostKey(focus ? focus : box, wcscmp(action, L"enter") == 0 ? VK_RETURN : VK_ESCAPE);
        return 1;
    }
    if (wcscmp(action, L"close") == 0) {
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 1;
    }
    if (wcscmp(action, L"wm_close") == 0) {
        PostMessageW(box, WM_CLOSE, 0, 0);
        return 1;
    }
    return 0;
}

/* Reports everything about box as one event; then does action to it, or,
 * for a box with another caption than expected, whatever makes it go away,
 * so that the program can run on. */
static void ReportAndAct(const char* event, HWND box, const wchar_t* expectedCaption, const wchar_t* action) {
    static wchar_t caption[TEXT_SIZE];
    static wchar_t text[TEXT_SIZE];
    DWORD_PTR ignored;
    /* The box's thread answers only once its modal loop runs. */
    SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored);
    Sleep(150); /* and the screen shows it only once it has painted */
    caption[0] = 0;
    text[0] = 0;
    GetWindowTextW(box, caption, TEXT_SIZE);
    GetDlgItemTextW(box, kBoxTextId, text, TEXT_SIZE);

    DWORD thread = GetWindowThreadProcessId(box, NULL);
    GUITHREADINFO gui;
    memset(&gui, 0, sizeof(gui));
    gui.cbSize = sizeof(gui);
    int focusId = -1;
    HWND focus = NULL;
    if (GetGUIThreadInfo(thread, &gui) && gui.hwndFocus && GetParent(gui.hwndFocus) == box) {
        focus = gui.hwndFocus;
        focusId = GetDlgCtrlID(focus);
    }
    DWORD_PTR defId = 0;
    SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &defId);

    int iconDifference = -1;
    const char* icon = ClassifyIcon(box, &iconDifference);
    for (int attempt = 0; attempt < 10 && strcmp(icon, "other") == 0; attempt++) {
        Sleep(100); /* not painted yet, or covered for a moment */
        icon = ClassifyIcon(box, &iconDifference);
    }

    int expected = expectedCaption && wcscmp(caption, expectedCaption) == 0;
    const wchar_t* done = expected ? action : L"wm_close";

    BeginEvent(event);
    FieldText("caption", caption);
    FieldText("text", text);
    ReportButtons(box);
    FieldInt("focus", focusId);
    FieldInt("defid", HIWORD(defId) == DC_HASDEFID ? (long long)LOWORD(defId) : -1);
    FieldInt("defstyle", DefaultStyledButton(box));
    FieldAscii("icon", icon);
    FieldInt("icon_difference", iconDifference);
    FieldBool("foreground", GetForegroundWindow() == box);
    FieldText("action", done);
    if (wcscmp(done, L"hold") == 0) {
        EndEvent();
        return;
    }
    int known = Act(box, done, focus);
    FieldBool("action_known", known);
    int gone = known && WaitUntilGone(box, 5000);
    if (!gone) {
        /* Still there: take the first button that closes it. */
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        if (!WaitUntilGone(box, 1000)) {
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            WaitUntilGone(box, 1000);
        }
    }
    FieldBool("closed", gone);
    FieldInt("closed_ms", (long long)(GetTickCount() - g_startTick));
    EndEvent();
}

/* ---- process ---------------------------------------------------------- */

static void StepStart(const wchar_t* app, const wchar_t* commandLine, const wchar_t* folder) {
    static wchar_t buffer[32768];
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    wcsncpy(buffer, commandLine, 32767);
    buffer[32767] = 0;
    if (g_program) {
        FreeLibrary(g_program);
    }
    g_program = app[0] ? LoadLibraryExW(app, NULL, LOAD_LIBRARY_AS_DATAFILE) : NULL;
    g_running = CreateProcessW(app[0] ? app : NULL, buffer, NULL, NULL, FALSE, 0, NULL, folder[0] ? folder : NULL,
                               &startup, &g_proc);
    BeginEvent("start");
    FieldText("app", app);
    FieldText("cmdline", commandLine);
    FieldBool("started", g_running);
    FieldInt("error", g_running ? 0 : (long long)GetLastError());
    EndEvent();
}

static void StepBox(const wchar_t* caption, DWORD timeoutMs, const wchar_t* action) {
    DWORD start = GetTickCount();
    if (!g_running) {
        BeginEvent("no_box");
        FieldAscii("reason", "not started");
        EndEvent();
        return;
    }
    for (;;) {
        HWND box = FindBox();
        if (box) {
            ReportAndAct("box", box, caption, action);
            return;
        }
        if (ProcessEnded()) {
            /* A box shown at the very end would still be found above. */
            box = FindBox();
            if (box) {
                continue;
            }
            BeginEvent("no_box");
            FieldAscii("reason", "exited");
            FieldText("expected", caption);
            EndEvent();
            return;
        }
        if (GetTickCount() - start > timeoutMs) {
            BeginEvent("no_box");
            FieldAscii("reason", "timeout");
            FieldText("expected", caption);
            EndEvent();
            return;
        }
        Sleep(20);
    }
}

static void StepFinish(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    if (!g_running) {
        BeginEvent("exit");
        FieldAscii("reason", "not started");
        EndEvent();
        return;
    }
    int unexpected = 0;
    for (;;) {
        if (ProcessEnded()) {
            break;
        }
        HWND box = FindBox();
        if (box && unexpected < 5) {
            unexpected++;
            ReportAndAct("unexpected_box", box, NULL, NULL);
            continue;
        }
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(g_proc.hProcess, 999);
            WaitForSingleObject(g_proc.hProcess, 5000);
            BeginEvent("exit");
            FieldAscii("reason", "timeout");
            EndEvent();
            CloseHandle(g_proc.hProcess);
            CloseHandle(g_proc.hThread);
            g_running = 0;
            return;
        }
        Sleep(20);
    }
    DWORD code = 0;
    GetExitCodeProcess(g_proc.hProcess, &code);
    BeginEvent("exit");
    FieldAscii("reason", "ended");
    FieldInt("code", code);
    EndEvent();
    CloseHandle(g_proc.hProcess);
    CloseHandle(g_proc.hThread);
    g_running = 0;
}

/* ---- registry --------------------------------------------------------- */

/* A path is under HKEY_CURRENT_USER unless it starts with HKLM\. */
static HKEY Root(const wchar_t** path) {
    if (_wcsnicmp(*path, L"HKLM\\", 5) == 0) {
        *path += 5;
        return HKEY_LOCAL_MACHINE;
    }
    return HKEY_CURRENT_USER;
}

static void DumpKey(const wchar_t* path) {
    HKEY key;
    const wchar_t* sub = path;
    HKEY root = Root(&sub);
    LONG result = RegOpenKeyExW(root, sub, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        BeginEvent(result == ERROR_FILE_NOT_FOUND ? "missing" : "key_error");
        FieldText("key", path);
        FieldInt("error", result);
        EndEvent();
        return;
    }
    BeginEvent("key");
    FieldText("key", path);
    EndEvent();

    static wchar_t name[16384];
    static BYTE data[65536];
    for (DWORD index = 0;; index++) {
        DWORD nameLength = 16384;
        DWORD dataSize = sizeof(data) - 4;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, NULL, &type, data, &dataSize) != ERROR_SUCCESS) {
            break;
        }
        BeginEvent("value");
        FieldText("key", path);
        FieldTextN("name", name, (int)nameLength);
        FieldInt("type", type);
        FieldInt("bytes", dataSize);
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            int chars = (int)(dataSize / sizeof(wchar_t));
            const wchar_t* text = (const wchar_t*)data;
            int terminated = chars > 0 && text[chars - 1] == 0;
            FieldTextN("data", text, terminated ? chars - 1 : chars);
            FieldBool("terminated", terminated);
        } else {
            char hex[3];
            Put(",\"hex\":\"");
            for (DWORD i = 0; i < dataSize && i < 1024; i++) {
                snprintf(hex, sizeof(hex), "%02x", data[i]);
                Put(hex);
            }
            Put("\"");
        }
        EndEvent();
    }
    /* Sub keys by name; the path buffer of each is made afresh. */
    for (DWORD index = 0;; index++) {
        DWORD nameLength = 16384;
        if (RegEnumKeyExW(key, index, name, &nameLength, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
            break;
        }
        size_t length = wcslen(path) + 1 + nameLength + 1;
        wchar_t* child = (wchar_t*)malloc(length * sizeof(wchar_t));
        swprintf(child, length, L"%ls\\%ls", path, name);
        DumpKey(child);
        free(child);
    }
    RegCloseKey(key);
}

static void Result(const char* event, const wchar_t* path, LONG result) {
    BeginEvent(event);
    FieldText("key", path);
    FieldInt("result", result);
    EndEvent();
}

static void StepRegKey(const wchar_t* path, DWORD options) {
    HKEY key;
    const wchar_t* sub = path;
    HKEY root = Root(&sub);
    LONG result = RegCreateKeyExW(root, sub, 0, NULL, options, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    Result(options == REG_OPTION_VOLATILE ? "reg_volatile_key" : "reg_key", path, result);
}

static void StepRegSet(const wchar_t* path, const wchar_t* name, const wchar_t* data) {
    HKEY key;
    const wchar_t* sub = path;
    HKEY root = Root(&sub);
    LONG result = RegCreateKeyExW(root, sub, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)data, (DWORD)((wcslen(data) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    Result("reg_set", path, result);
}

static void StepRegSddl(const wchar_t* path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    LONG result;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, NULL)) {
        result = (LONG)GetLastError();
    } else {
        HKEY key;
        const wchar_t* sub = path;
        HKEY root = Root(&sub);
        result = RegOpenKeyExW(root, sub, 0, WRITE_DAC | READ_CONTROL, &key);
        if (result == ERROR_SUCCESS) {
            result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
            RegCloseKey(key);
        }
        LocalFree(descriptor);
    }
    Result("reg_sddl", path, result);
}

static void StepRegDeleteTree(const wchar_t* path) {
    const wchar_t* sub = path;
    HKEY root = Root(&sub);
    Result("reg_delete_tree", path, RegDeleteTreeW(root, sub));
}

/* ---- files and the verb ----------------------------------------------- */

static void ReportFile(const wchar_t* path) {
    int length = 0;
    wchar_t* content = ReadTextFile(path, &length);
    BeginEvent("file");
    FieldText("path", path);
    FieldBool("exists", content != NULL);
    if (content) {
        FieldTextN("content", content, length);
        free(content);
    }
    EndEvent();
}

static int WaitForFile(const wchar_t* path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeoutMs) {
            return 0;
        }
        Sleep(50);
    }
    return 1;
}

static void StepRegCopy(const wchar_t* from, const wchar_t* to) {
    static wchar_t value[8192];
    DWORD size = sizeof(value) - sizeof(wchar_t);
    const wchar_t* sub = from;
    HKEY root = Root(&sub);
    LONG result = RegGetValueW(root, sub, L"", RRF_RT_REG_SZ, NULL, value, &size);
    if (result == ERROR_SUCCESS) {
        StepRegSet(to, L"", value);
    } else {
        Result("reg_copy", from, result);
    }
}

/* Runs verb on path as Explorer does: the shell reads the verb's command
 * from the item's class and puts path in place of %1. */
static void StepShellVerb(const wchar_t* verb, const wchar_t* path, DWORD timeoutMs) {
    SHELLEXECUTEINFOW info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = path;
    info.nShow = SW_SHOWNORMAL;
    BOOL done = ShellExecuteExW(&info);
    BeginEvent("shell_verb");
    FieldText("path", path);
    FieldBool("done", done);
    FieldInt("error", done ? 0 : (long long)GetLastError());
    if (info.hProcess) {
        FieldBool("waited", WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0);
        CloseHandle(info.hProcess);
    }
    EndEvent();
}

/* ---- timing ----------------------------------------------------------- */

/* One start of program until its box with caption is there; then Cancel
 * and the wait for its end. */
static void TimeOne(int round, int index, const wchar_t* caption, const wchar_t* program, LARGE_INTEGER frequency) {
    static wchar_t commandLine[MAX_PATH + 3];
    STARTUPINFOW startup;
    LARGE_INTEGER start, found, ended;
    HWND box = NULL;
    swprintf(commandLine, MAX_PATH + 3, L"\"%ls\"", program);
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &g_proc)) {
        BeginEvent("timed_fail");
        FieldInt("error", GetLastError());
        EndEvent();
        return;
    }
    g_running = 1;
    for (;;) {
        box = FindBox();
        QueryPerformanceCounter(&found);
        if (box || ProcessEnded() || (found.QuadPart - start.QuadPart) / frequency.QuadPart > 20) {
            break;
        }
        Sleep(1);
    }
    if (box) {
        wchar_t seen[256];
        GetWindowTextW(box, seen, 256);
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        box = wcscmp(seen, caption) == 0 ? box : NULL;
    }
    if (WaitForSingleObject(g_proc.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(g_proc.hProcess, 999);
        WaitForSingleObject(g_proc.hProcess, 5000);
    }
    QueryPerformanceCounter(&ended);
    DWORD code = 0;
    GetExitCodeProcess(g_proc.hProcess, &code);
    CloseHandle(g_proc.hProcess);
    CloseHandle(g_proc.hThread);
    g_running = 0;
    BeginEvent(box ? "timed" : "timed_fail");
    FieldInt("round", round);
    FieldInt("index", index);
    FieldInt("us", (found.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    FieldInt("closing_us", (ended.QuadPart - found.QuadPart) * 1000000 / frequency.QuadPart);
    FieldInt("code", code);
    EndEvent();
}

static void StepTimeBoxes(int rounds, wchar_t** pairs, int count) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int round = 0; round <= rounds; round++) {
        for (int k = 0; k < count; k++) {
            int index = round % 2 ? count - 1 - k : k;
            TimeOne(round, index, pairs[2 * index], pairs[2 * index + 1], frequency);
        }
    }
}

/* ---- main ------------------------------------------------------------- */

static void FieldVariable(const char* name, const wchar_t* variable) {
    static wchar_t value[4096];
    if (GetEnvironmentVariableW(variable, value, 4096)) {
        FieldText(name, value);
    } else {
        FieldText(name, NULL);
    }
}

static void StepSystem(void) {
    static wchar_t expanded[4096];
    BeginEvent("system");
    FieldInt("acp", GetACP());
    FieldInt("oemcp", GetOEMCP());
    FieldVariable("program_files", L"ProgramFiles");
    FieldVariable("program_w6432", L"ProgramW6432");
    expanded[0] = 0;
    ExpandEnvironmentStringsW(L"%ProgramW6432%\\", expanded, 4096);
    FieldText("expanded_w6432", expanded);
    FieldBool("wow64", GetSystemWow64DirectoryW(expanded, 4096) != 0);
    EndEvent();
}

static void RunStep(wchar_t** f, int n) {
#define NEED(count)                     \
    if (n < (count)) {                  \
        Note("bad_step", "step", f[0]); \
        return;                         \
    }
    const wchar_t* step = f[0];
    if (wcscmp(step, L"case") == 0) {
        NEED(2);
        Note("case", "name", f[1]);
    } else if (wcscmp(step, L"label") == 0) {
        NEED(2);
        Note("label", "name", f[1]);
    } else if (wcscmp(step, L"system") == 0) {
        StepSystem();
    } else if (wcscmp(step, L"exists") == 0) {
        NEED(2);
        BeginEvent("exists");
        FieldText("path", f[1]);
        FieldBool("exists", GetFileAttributesW(f[1]) != INVALID_FILE_ATTRIBUTES);
        EndEvent();
    } else if (wcscmp(step, L"reg_delete_tree") == 0) {
        NEED(2);
        StepRegDeleteTree(f[1]);
    } else if (wcscmp(step, L"reg_key") == 0) {
        NEED(2);
        StepRegKey(f[1], REG_OPTION_NON_VOLATILE);
    } else if (wcscmp(step, L"reg_volatile_key") == 0) {
        NEED(2);
        StepRegKey(f[1], REG_OPTION_VOLATILE);
    } else if (wcscmp(step, L"reg_set") == 0) {
        NEED(4);
        StepRegSet(f[1], f[2], f[3]);
    } else if (wcscmp(step, L"reg_sddl") == 0) {
        NEED(3);
        StepRegSddl(f[1], f[2]);
    } else if (wcscmp(step, L"delete_file") == 0) {
        NEED(2);
        DeleteFileW(f[1]);
    } else if (wcscmp(step, L"make_folder") == 0) {
        NEED(2);
        SHCreateDirectoryExW(NULL, f[1], NULL); /* with its parents */
    } else if (wcscmp(step, L"start") == 0) {
        NEED(4);
        StepStart(f[1], f[2], f[3]);
    } else if (wcscmp(step, L"box") == 0) {
        NEED(4);
        StepBox(f[1], (DWORD)wcstoul(f[2], NULL, 10), f[3]);
    } else if (wcscmp(step, L"finish") == 0) {
        NEED(2);
        StepFinish((DWORD)wcstoul(f[1], NULL, 10));
    } else if (wcscmp(step, L"dump") == 0) {
        NEED(2);
        DumpKey(f[1]);
    } else if (wcscmp(step, L"reg_copy") == 0) {
        NEED(3);
        StepRegCopy(f[1], f[2]);
    } else if (wcscmp(step, L"shell_verb") == 0) {
        NEED(4);
        StepShellVerb(f[1], f[2], (DWORD)wcstoul(f[3], NULL, 10));
    } else if (wcscmp(step, L"time_boxes") == 0) {
        NEED(4);
        StepTimeBoxes(_wtoi(f[1]), f + 2, (n - 2) / 2);
    } else if (wcscmp(step, L"read_file") == 0) {
        NEED(3);
        WaitForFile(f[1], (DWORD)wcstoul(f[2], NULL, 10)); /* the stand-in renames it into place whole */
        ReportFile(f[1]);
    } else if (wcscmp(step, L"wait_file") == 0) {
        NEED(3);
        BeginEvent("wait_file");
        FieldText("path", f[1]);
        FieldBool("exists", WaitForFile(f[1], (DWORD)wcstoul(f[2], NULL, 10)));
        EndEvent();
    } else if (wcscmp(step, L"sleep") == 0) {
        NEED(2);
        Sleep((DWORD)wcstoul(f[1], NULL, 10));
    } else {
        Note("bad_step", "step", step);
    }
#undef NEED
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: driver SCRIPT TRANSCRIPT\n");
        return 2;
    }
    g_startTick = GetTickCount();
    g_out = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (g_out == INVALID_HANDLE_VALUE) {
        return 3;
    }
    wchar_t* script = ReadTextFile(argv[1], NULL);
    if (!script) {
        Note("bad_script", "path", argv[1]);
        CloseHandle(g_out);
        return 4;
    }
    wchar_t* line = script;
    while (*line) {
        wchar_t* end = wcschr(line, L'\n');
        if (end) {
            *end = 0;
        }
        size_t length = wcslen(line);
        if (length && line[length - 1] == L'\r') {
            line[length - 1] = 0;
        }
        if (line[0] && line[0] != L'#') {
            wchar_t* fields[MAX_FIELDS];
            int n = SplitFields(line, fields);
            RunStep(fields, n);
        }
        if (!end) {
            break;
        }
        line = end + 1;
    }
    if (g_running) {
        /* A script that forgot to finish: leave nothing behind. */
        TerminateProcess(g_proc.hProcess, 999);
    }
    Note("done", "script", argv[1]);
    CloseHandle(g_out);
    free(script);
    return 0;
}
