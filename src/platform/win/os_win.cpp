// The Windows operations. Texts arrive as Windows-1252 and are handed to the
// W functions as UTF-16, so the boxes and the registry get the same letters
// whatever the system's ANSI code page is.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "platform/platform.h"

static_assert(sizeof(MSGBOXPARAMSW) == 40, "a 32-bit build is expected");

enum : UINT { kTextCodePage = 1252 };

// A UTF-16 copy of count bytes of a Windows-1252 text (its zero included),
// on the process heap, freed when the holder goes out of scope. Every byte
// has a UTF-16 character of its own, so the copy has as many characters.
// Without a source it is a buffer of count characters. text is null for a
// null source or when memory runs out.
struct WideText {
    WideText(const char* source, int count) : text(nullptr) {
        if (count > 0) {
            text = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, count * sizeof(wchar_t)));
        }
        if (text && source) {
            MultiByteToWideChar(kTextCodePage, 0, source, count, text, count);
        }
    }
    explicit WideText(const char* source) : WideText(source, source ? TextLength(source) + 1 : 0) {}
    ~WideText() {
        if (text) {
            HeapFree(GetProcessHeap(), 0, text);
        }
    }
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    wchar_t* text;
};

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

// The handle of the process's window station is Windows' own: it is not closed.
bool OsBoxesCanBeSeen() {
    USEROBJECTFLAGS flags = {};
    HWINSTA station = GetProcessWindowStation();
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr)) {
        return true;  // Windows does not say
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void OsMessageBeep(uint32_t type) { MessageBeep(type); }

int OsMessageBoxIndirect(const OsBoxParams* params) {
    WideText text(params->text);
    WideText caption(params->caption);
    WideText icon(params->iconName);
    MSGBOXPARAMSW record = {};
    record.cbSize = sizeof(record);
    record.hwndOwner = reinterpret_cast<HWND>(params->owner);
    record.hInstance = reinterpret_cast<HINSTANCE>(params->instance);
    record.lpszText = text.text;
    record.lpszCaption = caption.text;
    record.dwStyle = params->style;
    record.lpszIcon = icon.text;
    record.dwContextHelpId = 1;
    record.lpfnMsgBoxCallback = nullptr;
    record.dwLanguageId = 0;
    // A box that cannot be shown answers 0 on Windows but -1 under Wine (its
    // dialog failed); both are no button.
    int answer = MessageBoxIndirectW(&record);
    return answer > 0 ? answer : 0;
}

int OsMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style) {
    WideText wideText(text);
    WideText wideCaption(caption);
    return MessageBoxW(reinterpret_cast<HWND>(owner), wideText.text, wideCaption.text, style);
}

// Loads the DLL name from the system folder alone: never from the program's
// own folder (a downloads folder, say) or the current one, where a DLL of
// that name may have been planted, whatever the system's KnownDLLs hold.
static HMODULE LoadSystemLibrary(const wchar_t* name) {
    static wchar_t path[MAX_PATH];
    UINT length = name ? GetSystemDirectoryW(path, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    path[length++] = L'\\';
    for (int i = 0; name[i]; i++) {
        if (length >= MAX_PATH - 1) {
            return nullptr;
        }
        path[length++] = name[i];
    }
    path[length] = L'\0';
    return LoadLibraryW(path);
}

OsModule OsLoadLibrary(const char* name) {
    WideText wide(name);
    return reinterpret_cast<OsModule>(LoadSystemLibrary(wide.text));
}

OsProc OsGetProcAddress(OsModule module, const char* name) {
    return reinterpret_cast<OsProc>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void OsFreeLibrary(OsModule module) { FreeLibrary(reinterpret_cast<HMODULE>(module)); }

typedef int(WINAPI* MessageBoxTimeoutProc)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);

int OsCallMessageBoxTimeout(OsProc proc, OsWindow owner, const char* text, const char* caption, uint32_t style,
                            uint32_t language, uint32_t milliseconds) {
    MessageBoxTimeoutProc timeoutBox = reinterpret_cast<MessageBoxTimeoutProc>(reinterpret_cast<void*>(proc));
    WideText wideText(text);
    WideText wideCaption(caption);
    return timeoutBox(reinterpret_cast<HWND>(owner), wideText.text, wideCaption.text, style,
                      static_cast<WORD>(language), milliseconds);
}

typedef BOOL(WINAPI* SetDpiAwarenessContextProc)(HANDLE);
typedef BOOL(WINAPI* SetDpiAwareProc)();

bool OsCallSetProcessDpiAwarenessContext(OsProc proc, intptr_t context) {
    SetDpiAwarenessContextProc set = reinterpret_cast<SetDpiAwarenessContextProc>(reinterpret_cast<void*>(proc));
    return set(reinterpret_cast<HANDLE>(context)) != FALSE;
}

bool OsCallSetProcessDpiAware(OsProc proc) {
    return reinterpret_cast<SetDpiAwareProc>(reinterpret_cast<void*>(proc))() != FALSE;
}

uint32_t OsExpandEnvironmentStrings(const char* src, char* dst, uint32_t size) {
    WideText wideSrc(src);
    WideText wideDst(nullptr, static_cast<int>(size));
    if (!wideSrc.text || !wideDst.text) {
        return 0;
    }
    DWORD needed = ExpandEnvironmentStringsW(wideSrc.text, wideDst.text, size);
    if (needed >= 1 && needed <= size && !Narrow(wideDst.text, dst, static_cast<int>(size))) {
        return 0;
    }
    return needed;
}

// A drive without a medium (an empty card reader, say) would otherwise stop
// the program with Windows' box asking for a disk. The mode is the whole
// process's, so it is changed only for the call.
uint32_t OsGetFileAttributes(const char* path) {
    WideText wide(path);
    UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(mode | SEM_FAILCRITICALERRORS);
    uint32_t attributes = wide.text ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
    SetErrorMode(mode);
    return attributes;
}

long OsRegCreateKey(OsKey root, const char* subKey, OsKey* result) {
    WideText wideKey(subKey);
    HKEY key = nullptr;
    LONG status = ERROR_OUTOFMEMORY;
    if (wideKey.text) {
        static wchar_t noClass[] = L"";
        status = RegCreateKeyExW(reinterpret_cast<HKEY>(root), wideKey.text, 0, noClass, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }
    *result = reinterpret_cast<OsKey>(key);
    return status;
}

long OsRegOpenKeyEx(OsKey root, const char* subKey, uint32_t access, OsKey* result) {
    WideText wideKey(subKey);
    HKEY key = nullptr;
    LONG status = ERROR_OUTOFMEMORY;
    if (wideKey.text) {
        status = RegOpenKeyExW(reinterpret_cast<HKEY>(root), wideKey.text, 0, access, &key);
    }
    *result = reinterpret_cast<OsKey>(key);
    return status;
}

long OsRegOpenMachineKey(OsRegistryView view, const char* subKey, OsKey* result) {
    return OsRegOpenKeyEx(reinterpret_cast<OsKey>(HKEY_LOCAL_MACHINE), subKey,
                          KEY_QUERY_VALUE | (view == kRegistryView64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), result);
}

long OsRegQueryInfoKey(OsKey key, uint32_t* subKeyCount) {
    DWORD count = 0;
    LONG status = RegQueryInfoKeyW(reinterpret_cast<HKEY>(key), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    *subKeyCount = count;
    return status;
}

long OsRegQueryValueEx(OsKey key, const char* valueName) {
    WideText wide(valueName);
    return wide.text ? RegQueryValueExW(reinterpret_cast<HKEY>(key), wide.text, nullptr, nullptr, nullptr, nullptr)
                     : ERROR_OUTOFMEMORY;
}

// RegQueryValueExW hands back a text value as it was stored, which may be
// without its terminating zero: the data gets one character more than size
// for that zero, and is read only up to it.
long OsRegQueryString(OsKey key, const char* valueName, char* text, uint32_t size) {
    WideText wideName(valueName);
    WideText data(nullptr, static_cast<int>(size) + 1);
    WideText expanded(nullptr, static_cast<int>(size) + 1);
    DWORD type = REG_NONE;
    DWORD bytes = size * sizeof(wchar_t);
    LONG status = ERROR_OUTOFMEMORY;
    if (wideName.text && data.text && expanded.text) {
        status = RegQueryValueExW(reinterpret_cast<HKEY>(key), wideName.text, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.text), &bytes);
    }
    const wchar_t* wide = data.text;
    if (status == ERROR_SUCCESS) {
        data.text[bytes / sizeof(wchar_t)] = L'\0';
        if (type == REG_EXPAND_SZ) {
            // A buffer too small holds no whole text: only the size it needs counts.
            DWORD needed = ExpandEnvironmentStringsW(data.text, expanded.text, size);
            status = needed == 0 ? static_cast<LONG>(GetLastError()) : needed > size ? ERROR_MORE_DATA : ERROR_SUCCESS;
            wide = expanded.text;
        } else if (type != REG_SZ) {
            status = ERROR_UNSUPPORTED_TYPE;
        }
    }
    if (status == ERROR_SUCCESS) {
        uint32_t length = 0;
        while (wide[length]) {
            length++;
        }
        status = length >= size                               ? ERROR_MORE_DATA
                 : Narrow(wide, text, static_cast<int>(size)) ? ERROR_SUCCESS
                                                              : ERROR_NO_UNICODE_TRANSLATION;
    }
    if (status != ERROR_SUCCESS && size > 0) {
        text[0] = '\0';
    }
    return status;
}

long OsRegSetValueEx(OsKey key, const char* valueName, uint32_t type, const char* text, uint32_t byteCount) {
    WideText wideName(valueName);
    WideText wideText(text, static_cast<int>(byteCount));
    if (!wideName.text || !wideText.text) {
        return ERROR_OUTOFMEMORY;
    }
    return RegSetValueExW(reinterpret_cast<HKEY>(key), wideName.text, 0, type,
                          reinterpret_cast<const BYTE*>(wideText.text), byteCount * sizeof(wchar_t));
}

long OsRegCloseKey(OsKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

long OsRegDeleteKey(OsKey root, const char* subKey) {
    WideText wide(subKey);
    return wide.text ? RegDeleteKeyW(reinterpret_cast<HKEY>(root), wide.text) : ERROR_OUTOFMEMORY;
}

long OsRegDeleteTree(OsKey root, const char* subKey) {
    WideText wide(subKey);
    return wide.text ? RegDeleteTreeW(reinterpret_cast<HKEY>(root), wide.text) : ERROR_OUTOFMEMORY;
}

long OsRegDeleteValue(OsKey key, const char* valueName) {
    WideText wide(valueName);
    return wide.text ? RegDeleteValueW(reinterpret_cast<HKEY>(key), wide.text) : ERROR_OUTOFMEMORY;
}

typedef HINSTANCE(WINAPI* ShellExecuteProc)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

// Shell32 is large and needed only when the download page is to be opened, so
// it is loaded then rather than at every start.
intptr_t OsOpenPage(const char* address) {
    HMODULE shell32 = LoadSystemLibrary(L"shell32.dll");
    if (!shell32) {
        return SE_ERR_DLLNOTFOUND;
    }
    ShellExecuteProc shellExecute =
        reinterpret_cast<ShellExecuteProc>(reinterpret_cast<void*>(GetProcAddress(shell32, "ShellExecuteW")));
    intptr_t result = SE_ERR_DLLNOTFOUND;
    if (shellExecute) {
        WideText wideAddress(address);
        result = reinterpret_cast<intptr_t>(
            shellExecute(GetDesktopWindow(), L"open", wideAddress.text, nullptr, nullptr, SW_SHOWNORMAL));
    }
    FreeLibrary(shell32);
    return result;
}
