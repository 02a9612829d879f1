// The Windows operations. Texts arrive as Windows-1252 and are handed to the
// W functions as UTF-16, so the boxes and the registry get the same letters
// whatever the system's ANSI code page is.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "platform/platform.h"

static_assert(sizeof(MSGBOXPARAMSW) == 40, "a 32-bit build is expected");

enum : UINT { kTextCodePage = 1252 };

// A UTF-16 copy of a Windows-1252 text, on the process heap. Every byte has a
// UTF-16 character of its own, so the copy has the same length.
static int TextLength(const char* text) {
    int length = 0;
    while (text[length]) {
        length++;
    }
    return length;
}

static wchar_t* Widen(const char* text) {
    if (!text) {
        return nullptr;
    }
    int length = TextLength(text);
    wchar_t* wide = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (wide) {
        MultiByteToWideChar(kTextCodePage, 0, text, length + 1, wide, length + 1);
    }
    return wide;
}

static void FreeWide(wchar_t* wide) {
    if (wide) {
        HeapFree(GetProcessHeap(), 0, wide);
    }
}

// Writes wide (with its zero) to dst as Windows-1252. False when a character
// has no exact Windows-1252 form or the text does not fit.
static bool Narrow(const wchar_t* wide, char* dst, int dstSize) {
    BOOL lossy = FALSE;
    int written = WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide, -1, dst, dstSize, nullptr, &lossy);
    return written > 0 && !lossy;
}

OsKey OsCurrentUserKey() { return reinterpret_cast<OsKey>(HKEY_CURRENT_USER); }

const char* OsGetCommandLine() {
    static char* text;
    if (!text) {
        const wchar_t* wide = GetCommandLineW();
        int size = WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
        text = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size > 0 ? size : 1));
        if (!text) {
            return "";
        }
        // A character without a Windows-1252 form becomes '?': never a quote, a
        // separator or an s.
        WideCharToMultiByte(kTextCodePage, WC_NO_BEST_FIT_CHARS, wide, -1, text, size, nullptr, nullptr);
    }
    return text;
}

void OsExitProcess(unsigned exitCode) { ExitProcess(exitCode); }

OsModule OsGetModuleHandle() { return reinterpret_cast<OsModule>(GetModuleHandleW(nullptr)); }

OsWindow OsGetDesktopWindow() { return reinterpret_cast<OsWindow>(GetDesktopWindow()); }

void OsMessageBeep(uint32_t type) { MessageBeep(type); }

int OsMessageBoxIndirect(const OsBoxParams* params) {
    wchar_t* text = Widen(params->text);
    wchar_t* caption = Widen(params->caption);
    wchar_t* icon = Widen(params->iconName);
    MSGBOXPARAMSW record = {};
    record.cbSize = sizeof(record);
    record.hwndOwner = reinterpret_cast<HWND>(params->owner);
    record.hInstance = reinterpret_cast<HINSTANCE>(params->instance);
    record.lpszText = text;
    record.lpszCaption = caption;
    record.dwStyle = params->style;
    record.lpszIcon = icon;
    record.dwContextHelpId = params->contextHelpId;
    record.lpfnMsgBoxCallback = nullptr;
    record.dwLanguageId = params->languageId;
    int result = MessageBoxIndirectW(&record);
    FreeWide(icon);
    FreeWide(caption);
    FreeWide(text);
    return result;
}

int OsMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style) {
    wchar_t* wideText = Widen(text);
    wchar_t* wideCaption = Widen(caption);
    int result = MessageBoxW(reinterpret_cast<HWND>(owner), wideText, wideCaption, style);
    FreeWide(wideCaption);
    FreeWide(wideText);
    return result;
}

OsModule OsLoadLibrary(const char* name) {
    wchar_t* wide = Widen(name);
    HMODULE module = LoadLibraryW(wide);
    FreeWide(wide);
    return reinterpret_cast<OsModule>(module);
}

OsProc OsGetProcAddress(OsModule module, const char* name) {
    return reinterpret_cast<OsProc>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void OsFreeLibrary(OsModule module) { FreeLibrary(reinterpret_cast<HMODULE>(module)); }

typedef int(WINAPI* MessageBoxTimeoutProc)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);

int OsCallMessageBoxTimeout(OsProc proc, OsWindow owner, const char* text, const char* caption, uint32_t style,
                            uint32_t language, uint32_t milliseconds) {
    MessageBoxTimeoutProc timeoutBox = reinterpret_cast<MessageBoxTimeoutProc>(reinterpret_cast<void*>(proc));
    wchar_t* wideText = Widen(text);
    wchar_t* wideCaption = Widen(caption);
    int result = timeoutBox(reinterpret_cast<HWND>(owner), wideText, wideCaption, style, static_cast<WORD>(language),
                            milliseconds);
    FreeWide(wideCaption);
    FreeWide(wideText);
    return result;
}

uint32_t OsExpandEnvironmentStrings(const char* src, char* dst, uint32_t size) {
    wchar_t* wideSrc = Widen(src);
    wchar_t* wideDst = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, size * sizeof(wchar_t)));
    DWORD needed = 0;
    if (wideSrc && wideDst) {
        needed = ExpandEnvironmentStringsW(wideSrc, wideDst, size);
        if (needed >= 1 && needed <= size && !Narrow(wideDst, dst, static_cast<int>(size))) {
            needed = 0;
        }
    }
    FreeWide(wideDst);
    FreeWide(wideSrc);
    return needed;
}

uint32_t OsGetFileAttributes(const char* path) {
    wchar_t* wide = Widen(path);
    DWORD attributes = wide ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    FreeWide(wide);
    return attributes;
}

long OsRegCreateKeyEx(OsKey root, const char* subKey, const char* keyClass, uint32_t options, uint32_t access,
                      OsKey* result) {
    wchar_t* wideKey = Widen(subKey);
    wchar_t* wideClass = Widen(keyClass);
    HKEY key = nullptr;
    LONG status = ERROR_OUTOFMEMORY;
    if (wideKey && wideClass) {
        status = RegCreateKeyExW(reinterpret_cast<HKEY>(root), wideKey, 0, wideClass, options, access, nullptr, &key,
                                 nullptr);
    }
    *result = reinterpret_cast<OsKey>(key);
    FreeWide(wideClass);
    FreeWide(wideKey);
    return status;
}

long OsRegOpenKeyEx(OsKey root, const char* subKey, uint32_t access, OsKey* result) {
    wchar_t* wideKey = Widen(subKey);
    HKEY key = nullptr;
    LONG status = ERROR_OUTOFMEMORY;
    if (wideKey) {
        status = RegOpenKeyExW(reinterpret_cast<HKEY>(root), wideKey, 0, access, &key);
    }
    *result = reinterpret_cast<OsKey>(key);
    FreeWide(wideKey);
    return status;
}

long OsRegSetValueEx(OsKey key, const char* valueName, uint32_t type, const char* text, uint32_t byteCount) {
    wchar_t* wideName = Widen(valueName);
    wchar_t* wideText = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, byteCount * sizeof(wchar_t)));
    LONG status = ERROR_OUTOFMEMORY;
    if (wideName && wideText) {
        MultiByteToWideChar(kTextCodePage, 0, text, static_cast<int>(byteCount), wideText, static_cast<int>(byteCount));
        status = RegSetValueExW(reinterpret_cast<HKEY>(key), wideName, 0, type, reinterpret_cast<const BYTE*>(wideText),
                                byteCount * sizeof(wchar_t));
    }
    FreeWide(wideText);
    FreeWide(wideName);
    return status;
}

long OsRegCloseKey(OsKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

long OsRegDeleteKey(OsKey root, const char* subKey) {
    wchar_t* wide = Widen(subKey);
    LONG status = wide ? RegDeleteKeyW(reinterpret_cast<HKEY>(root), wide) : ERROR_OUTOFMEMORY;
    FreeWide(wide);
    return status;
}

typedef HINSTANCE(WINAPI* ShellExecuteProc)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

// Shell32 is large and needed only when the download page is to be opened, so
// it is loaded then rather than at every start.
intptr_t OsShellExecute(OsWindow owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int show) {
    HMODULE shell32 = LoadLibraryW(L"shell32.dll");
    if (!shell32) {
        return SE_ERR_DLLNOTFOUND;
    }
    ShellExecuteProc shellExecute =
        reinterpret_cast<ShellExecuteProc>(reinterpret_cast<void*>(GetProcAddress(shell32, "ShellExecuteW")));
    intptr_t result = SE_ERR_DLLNOTFOUND;
    if (shellExecute) {
        wchar_t* wideVerb = Widen(verb);
        wchar_t* wideFile = Widen(file);
        wchar_t* wideParameters = Widen(parameters);
        wchar_t* wideDirectory = Widen(directory);
        result = reinterpret_cast<intptr_t>(
            shellExecute(reinterpret_cast<HWND>(owner), wideVerb, wideFile, wideParameters, wideDirectory, show));
        FreeWide(wideDirectory);
        FreeWide(wideParameters);
        FreeWide(wideFile);
        FreeWide(wideVerb);
    }
    FreeLibrary(shell32);
    return result;
}
