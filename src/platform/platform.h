// The Windows operations: every effect of the program passes through these.
//
// The program's shell part (src/shell) includes only this header, its
// application part (src/app) this one and the shell's header. The
// Windows build links src/platform/win, which calls the real functions; the
// Linux test build links the tests' fake (tests/fake), which records every
// call and can be told to fail any of them.
//
// All texts that cross this line are zero-terminated Windows-1252 texts. The
// Windows side converts them to UTF-16 exactly and calls the W functions, so
// that the system's own ANSI code page never changes a letter.
#ifndef KOMPAKTO_PLATFORM_H
#define KOMPAKTO_PLATFORM_H

#include <stdint.h>

typedef struct OsWindowTag* OsWindow;
typedef struct OsModuleTag* OsModule;
typedef struct OsKeyTag* OsKey;
typedef struct OsProcTag* OsProc;

// Button identifiers, as the platform returns them.
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Message box styles.
constexpr uint32_t kMbYesNoCancel = 0x3;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr uint32_t kMbUserIcon = 0x80;
constexpr uint32_t kMbDefButton3 = 0x200;
constexpr uint32_t kMbSetForeground = 0x10000;

constexpr uint32_t kMbIconAsterisk = 0x40;  // the information sound of MessageBeep
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr intptr_t kShellExecuteLastError = 32;                 // ShellExecute results up to this one are errors
constexpr intptr_t kDpiAwarenessContextPerMonitorAwareV2 = -4;  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2

// Registry values.
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;  // also the right to delete a value
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;

// Results of the registry functions.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorMoreData = 234;               // a text longer than the buffer
constexpr long kErrorNoUnicodeTranslation = 1113;  // a letter that Windows-1252 lacks
constexpr long kErrorUnsupportedType = 1630;       // a value that is no text

// The two views a program has of HKEY_LOCAL_MACHINE\SOFTWARE on 64-bit
// Windows; 32-bit Windows has one, which both name.
enum OsRegistryView { kRegistryView64, kRegistryView32 };

// The number of characters before the terminating zero.
inline int TextLength(const char* text) {
    int length = 0;
    while (text[length]) {
        length++;
    }
    return length;
}

// HKEY_CURRENT_USER.
OsKey OsCurrentUserKey();

// The record of MessageBoxIndirect. The Windows side fills the rest the same
// for every box: its size, help id 1, no callback and language 0.
struct OsBoxParams {
    OsWindow owner;
    OsModule instance;
    const char* text;
    const char* caption;
    uint32_t style;
    const char* iconName;
};

const char* OsGetCommandLine();
[[noreturn]] void OsExitProcess(unsigned exitCode);
OsModule OsGetModuleHandle();  // the program's own module
OsWindow OsGetDesktopWindow();
// Whether a box of this process can be seen by a user: false only where
// Windows says that its window station is not visible (a service's, or a
// task's that runs whether the user is logged on or not), where a box waits
// for ever for an answer nobody can give; true also where Windows does not
// say.
bool OsBoxesCanBeSeen();

void OsMessageBeep(uint32_t type);
// The pressed button's identifier; 0 when the box could not be shown.
int OsMessageBoxIndirect(const OsBoxParams* params);
int OsMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style);

OsModule OsLoadLibrary(const char* name);
OsProc OsGetProcAddress(OsModule module, const char* name);
void OsFreeLibrary(OsModule module);
// Calls a MessageBoxTimeoutW found by OsGetProcAddress.
int OsCallMessageBoxTimeout(OsProc proc, OsWindow owner, const char* text, const char* caption, uint32_t style,
                            uint32_t language, uint32_t milliseconds);

// Call a SetProcessDpiAwarenessContext or a SetProcessDPIAware found by
// OsGetProcAddress; false when Windows refuses.
bool OsCallSetProcessDpiAwarenessContext(OsProc proc, intptr_t context);
bool OsCallSetProcessDpiAware(OsProc proc);

// Returns the size the expanded text needs, its terminating zero included;
// writes it to dst only when that is at most size. Zero on failure, and also
// when the expanded text holds a character that Windows-1252 cannot hold.
uint32_t OsExpandEnvironmentStrings(const char* src, char* dst, uint32_t size);
// With Windows' critical-error boxes off: a drive without a medium answers
// kInvalidFileAttributes instead of asking for a disk.
uint32_t OsGetFileAttributes(const char* path);

// Creates subKey with its missing parents, or opens it: a lasting key of no
// class, opened with every right.
long OsRegCreateKey(OsKey root, const char* subKey, OsKey* result);
long OsRegOpenKeyEx(OsKey root, const char* subKey, uint32_t access, OsKey* result);
// Opens subKey of HKEY_LOCAL_MACHINE in view, to read its values.
long OsRegOpenMachineKey(OsRegistryView view, const char* subKey, OsKey* result);
// How many sub keys key has (an open key with kKeyQueryValue).
long OsRegQueryInfoKey(OsKey key, uint32_t* subKeyCount);
// kErrorSuccess when key (open with kKeyQueryValue) has a value of that name,
// of any type; kErrorFileNotFound when it has none.
long OsRegQueryValueEx(OsKey key, const char* valueName);
// Reads a text value of key (open with kKeyQueryValue) into text, of size
// bytes: a REG_SZ as it is, a REG_EXPAND_SZ with its variables expanded, up
// to its first zero. kErrorUnsupportedType for a value of another type,
// kErrorMoreData when it does not fit, kErrorNoUnicodeTranslation when it
// holds a letter that Windows-1252 lacks; text is empty then.
long OsRegQueryString(OsKey key, const char* valueName, char* text, uint32_t size);
// text is byteCount bytes of Windows-1252, its terminating zero included.
long OsRegSetValueEx(OsKey key, const char* valueName, uint32_t type, const char* text, uint32_t byteCount);
long OsRegCloseKey(OsKey key);
long OsRegDeleteKey(OsKey root, const char* subKey);
// Deletes subKey with every key and value below it, deepest first. Where one
// of them cannot be deleted it stops, and what it deleted before stays gone.
long OsRegDeleteTree(OsKey root, const char* subKey);
// Removes a value of key (open with kKeySetValue); kErrorFileNotFound when it
// is not there.
long OsRegDeleteValue(OsKey key, const char* valueName);

// Opens address with the program the user has for it (the web browser),
// shown normally and owned by the desktop. Returns the ShellExecute result;
// above 32 means success.
intptr_t OsOpenPage(const char* address);

#endif
