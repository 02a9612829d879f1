// A stand-in for Windows, for running the program's decisions on Linux. It
// keeps a small registry, environment and file system, answers the boxes from
// a queue, records every call, and fails the calls it is told to fail.
#ifndef KOMPAKTO_FAKE_H
#define KOMPAKTO_FAKE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "windows_numbers.h"

// Every operation of platform.h, in its order, by its name there without
// "Os"; each call is recorded under the name of its operation.
// clang-format off
#define FAKE_OPERATIONS(X)                                                                                    \
    X(CurrentUserKey) X(GetCommandLine) X(ExitProcess) X(GetModuleHandle) X(GetDesktopWindow) X(BoxesCanBeSeen) \
    X(MessageBeep) X(MessageBoxIndirect) X(MessageBox) X(LoadLibrary) X(GetProcAddress) X(FreeLibrary)         \
    X(CallMessageBoxTimeout) X(CallSetProcessDpiAwarenessContext) X(CallSetProcessDpiAware)                    \
    X(ExpandEnvironmentStrings) X(GetFileAttributes) X(RegCreateKey) X(RegOpenKeyEx) X(RegOpenMachineKey)     \
    X(RegQueryInfoKey) X(RegQueryValueEx) X(RegQueryString) X(RegSetValueEx) X(RegCloseKey) X(RegDeleteKey)   \
    X(RegDeleteTree) X(RegDeleteValue) X(OpenPage)
// clang-format on

#define FAKE_OP_ENUMERATOR(name) kOp##name,
enum FakeOp { FAKE_OPERATIONS(FAKE_OP_ENUMERATOR) kOpCount };
#undef FAKE_OP_ENUMERATOR

struct FakeCall {
    std::string op;      // the operation's name, e.g. "RegCreateKey"
    std::string detail;  // its arguments as text
    bool failed;
};

struct FakeBox {
    std::string via;  // the operation that showed it: "MessageBoxIndirect", "MessageBox" or "CallMessageBoxTimeout"
    bool hasOwner;
    bool isDesktopOwner;
    bool hasInstance;
    std::string text;
    std::string caption;
    uint32_t style;
    std::string iconName;
    uint32_t timeoutMs;
    uint32_t language;  // of the time-out box; 0 for the others
};

// Back to a fresh machine: 64-bit Windows (both program-files variables set),
// an empty HKEY_CURRENT_USER\SOFTWARE\Classes, no viewer, command line
// "kompakto.exe", no answers queued, no failures.
void FakeReset();

void FakeSetCommandLine(const std::string& commandLine);
// With inWindows1252 false, a value that holds a letter Windows-1252 lacks.
void FakeSetEnv(const std::string& name, const std::string& value, bool inWindows1252 = true);
// 32-bit Windows: %ProgramFiles% is C:\Program Files, %ProgramW6432% is not
// defined, and HKEY_LOCAL_MACHINE has one view.
void FakeSetWindows32();
void FakeUnsetEnv(const std::string& name);
void FakeAddFile(const std::string& path);
void FakeAddFolder(const std::string& path);
// A window station that nobody sees, as a service's or a scheduled task's.
void FakeHideWindowStation();
void FakeQueueAnswer(int button);  // the next box returns this; without one a box returns 0
void FakeSetUser32Loadable(bool loadable);
void FakeSetTimeoutBoxExported(bool exported);
// Older Windows: user32 lacks SetProcessDpiAwarenessContext (before Windows
// 10 1703), or SetProcessDPIAware too (before Vista).
void FakeSetDpiExports(bool perMonitor, bool systemWide);
// What the process declared: "unaware" (nothing), "system", "per-monitor-v2", ...
std::string FakeDpiAwareness();

// The callNumber-th call of any operation (counting from 1) fails; with
// fromThereOn every later call fails too. 0 turns failing off. A registry
// operation, and OpenPage, failed this way return win::kErrorAccessDenied;
// the others fail as under FakeFailOp.
void FakeFailCall(int callNumber, bool fromThereOn);

// The nth call of op (counting from 1; 0 for every call) fails with error: a
// registry operation returns it, OpenPage returns it as its result, and the
// others fail as Windows would (no key, module or procedure, no text, no
// box, a declaration refused, no attributes), BoxesCanBeSeen answering true
// as where Windows does not say; a failed beep, unload or exit is recorded
// as failed and does what it would have done. Any number of such rules add
// up.
void FakeFailOp(FakeOp op, int nth, long error);

// Registry, paths relative to HKEY_CURRENT_USER, compared without case.
void FakeAddKey(const std::string& path);
void FakeSetValue(const std::string& path, const std::string& name, const std::string& text);  // a REG_SZ
// A value of any type, data being its bytes (a text's zero included); with
// inWindows1252 false, a text that holds a letter Windows-1252 lacks.
void FakeSetTypedValue(const std::string& path, const std::string& name, uint32_t type, const std::string& data,
                       bool inWindows1252 = true);
// The path for the functions above of path under HKEY_LOCAL_MACHINE, as a
// program sees it in view: on 64-bit Windows the 32-bit view of SOFTWARE is
// SOFTWARE\WOW6432Node.
std::string FakeMachineKey(OsRegistryView view, const std::string& path);
// An access list that lets the user only read the key: opening it for any
// other right, deleting it, or writing into it, is refused.
void FakeLockKey(const std::string& path);
// A key that lasts only until Windows restarts: no lasting key can be made
// below it.
void FakeMakeKeyVolatile(const std::string& path);
bool FakeKeyExists(const std::string& path);
bool FakeHasValue(const std::string& path, const std::string& name);  // of any type
uint32_t FakeGrantedAccess(OsKey key);         // the rights an open key was opened with; 0 for none
bool FakeFileExists(const std::string& path);  // a file, not a folder, compared without case
// A text value as the program must store one: REG_SZ bytes ending in their
// only zero; text is without it. False when there is none, or it is not so.
bool FakeGetString(const std::string& path, const std::string& name, std::string* text);
std::string FakeRegistryDump();  // every key and value, one a line, sorted
// What Explorer makes of the static verb at verbKey: the command it runs for
// it, the command key's default value; empty when there is none, or when a
// value or sub key on the verb hides it from the menu or has Explorer show or
// run something else (the hiding and diverting entries of facts.h).
std::string FakeExplorerCommand(const std::string& verbKey);
// The names of a list of facts.h, separated by ';'.
std::vector<std::string> FakeNames(const std::string& list);

// What the program left open: a line for each key it did not close, and one
// for the libraries it did not free; empty when it left nothing open.
std::string FakeLeftOpen();

// What a run of the program came to.
struct FakeEnd {
    int code;              // its exit code
    std::string leftOpen;  // FakeLeftOpen() at its end: every test of a run expects it empty
};
// Runs the program to its end.
FakeEnd FakeRun();

const std::vector<FakeCall>& FakeCalls();
const std::vector<FakeBox>& FakeBoxes();
const std::vector<std::string>& FakeOpenedAddresses();

#endif
