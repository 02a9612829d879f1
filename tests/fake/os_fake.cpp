#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "app/startup.h"
#include "facts.h"
#include "fake/fake.h"

namespace {

struct FakeValue {
    std::string data;  // its bytes, a text with its zero
    uint32_t type;
    bool inWindows1252;  // false: it holds a letter that Windows-1252 lacks
};

struct FakeKey {
    std::string path;                         // as first created
    std::map<std::string, FakeValue> values;  // by lower-case name
    bool locked;
    bool isVolatile;  // lasts until Windows restarts, and so does every key below it
};

struct FakeHandle {
    std::string path;  // of the key it opens, in lower case
    uint32_t access;
};

struct FailRule {
    FakeOp op;
    int nth;  // 0: every call
    long error;
};

// A fresh machine: see FakeReset.
struct FakeState {
    std::string commandLine = "kompakto.exe";
    std::map<std::string, uint32_t> files;    // lower-case path -> attributes
    std::map<std::string, FakeKey> keys;      // lower-case path -> key
    std::map<uintptr_t, FakeHandle> handles;  // open handle -> key and rights
    // The variables, by lower-case name.
    std::map<std::string, std::string> env = {{"programfiles", "C:\\Program Files (x86)"},
                                              {"programw6432", "C:\\Program Files"}};
    std::set<std::string> envLacking;  // the variables whose values hold a letter Windows-1252 lacks
    bool windows64 = true;             // with two views of HKEY_LOCAL_MACHINE\SOFTWARE
    uintptr_t nextHandle = 0x1000;
    bool stationVisible = true;
    std::vector<int> answers;
    size_t nextAnswer = 0;
    bool user32Loadable = true;
    bool timeoutBoxExported = true;
    bool dpiContextExported = true;
    bool dpiAwareExported = true;
    std::string dpiAwareness = "unaware";
    int libraries = 0;
    int failAt = 0;
    bool failFromThereOn = false;
    std::vector<FailRule> failRules;
    int opCalls[kOpCount] = {};
    long error = win::kErrorAccessDenied;  // what the failing call returns
    std::vector<FakeCall> calls;
    std::vector<FakeBox> boxes;
    std::vector<std::string> opened;
};

FakeState state;
jmp_buf exitJump;
int exitCode;

// The keys of HKEY_LOCAL_MACHINE lie in the same registry, below this name;
// on 64-bit Windows the 32-bit view of SOFTWARE is SOFTWARE\WOW6432Node.
const char kMachineRoot[] = "HKLM\\";
const char kSoftware[] = "software\\";
const char kWow64Node[] = "WOW6432Node\\";
const uintptr_t kDesktop = 0x10010;
const uintptr_t kModule = 0x400000;
const uintptr_t kUser32 = 0x7E410000;
const uintptr_t kTimeoutProc = 0x7E450000;
const uintptr_t kDpiContextProc = 0x7E460000;
const uintptr_t kDpiAwareProc = 0x7E470000;
const intptr_t kShellExecuteDone = 42;  // any result above 32

#define FAKE_OP_NAME(name) #name,
const char* const kOpNames[kOpCount] = {FAKE_OPERATIONS(FAKE_OP_NAME)};
#undef FAKE_OP_NAME

// Windows compares key, value, variable and file names without regard to the
// case of ASCII letters.
std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

std::string Show(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

std::string Hex(uint32_t value) {
    char buffer[16];
    (void)snprintf(buffer, sizeof buffer, "0x%X", value);
    return buffer;
}

// Records the call and tells whether it is to fail; state.error is then what
// it returns.
bool Call(FakeOp op, const std::string& detail) {
    int number = static_cast<int>(state.calls.size()) + 1;
    int nth = ++state.opCalls[op];
    bool fail = state.failAt > 0 && (number == state.failAt || (state.failFromThereOn && number > state.failAt));
    state.error = win::kErrorAccessDenied;
    for (const FailRule& rule : state.failRules) {
        if (rule.op == op && (rule.nth == 0 || rule.nth == nth)) {
            fail = true;
            state.error = rule.error;
        }
    }
    state.calls.push_back(FakeCall{kOpNames[op], detail, fail});
    return fail;
}

std::string Parent(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The key at lowerPath and every key below it, in the order of their paths.
std::vector<std::string> TreeOf(const std::string& lowerPath) {
    std::string prefix = lowerPath + "\\";
    std::vector<std::string> tree{lowerPath};
    for (auto key = state.keys.lower_bound(prefix);
         key != state.keys.end() && key->first.compare(0, prefix.size(), prefix) == 0; ++key) {
        tree.push_back(key->first);
    }
    return tree;
}

void CreateKeyPath(const std::string& path) {
    for (std::string p = path; !p.empty(); p = Parent(p)) {
        std::string lower = Lower(p);
        if (state.keys.count(lower)) break;
        state.keys[lower] = FakeKey{p, {}, false, false};
    }
}

// The key at path, created with its missing parents.
FakeKey& KeyAt(const std::string& path) {
    CreateKeyPath(path);
    return state.keys[Lower(path)];
}

// Whether the key at path, or a key above it, is volatile.
bool VolatileOnTheWay(const std::string& path) {
    for (std::string p = path; !p.empty(); p = Parent(p)) {
        auto it = state.keys.find(Lower(p));
        if (it != state.keys.end() && it->second.isVolatile) return true;
    }
    return false;
}

// The full path of subKey under root, or empty when root is no open key.
std::string Resolve(OsKey root, const char* subKey) {
    uintptr_t handle = reinterpret_cast<uintptr_t>(root);
    std::string base;
    if (handle != win::kHkeyCurrentUser) {
        auto it = state.handles.find(handle);
        if (it == state.handles.end()) return std::string();
        base = it->second.path + "\\";
    }
    return base + (subKey ? subKey : "");
}

OsKey NewHandle(const std::string& path, uint32_t access) {
    uintptr_t handle = state.nextHandle;
    state.nextHandle += 4;
    state.handles[handle] = FakeHandle{Lower(path), access};
    return reinterpret_cast<OsKey>(handle);
}

std::string KeyName(OsKey key) {
    uintptr_t handle = reinterpret_cast<uintptr_t>(key);
    if (handle == win::kHkeyCurrentUser) return "HKCU";
    auto it = state.handles.find(handle);
    return it == state.handles.end() ? "bad-handle" : "key(" + it->second.path + ")";
}

// Records the call of op on an open key, with the rest of its arguments, and
// gives the key; nullptr, with *error set, for a handle that is no open key, a
// call that is to fail, a handle opened without the right the operation needs
// (as Windows, which checks the rights of the handle, not of the key), or a
// key deleted meanwhile.
FakeKey* KeyOf(FakeOp op, OsKey handle, const std::string& arguments, uint32_t right, long* error) {
    bool fail = Call(op, KeyName(handle) + arguments);
    auto open = state.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (open == state.handles.end() || fail) {
        *error = fail && open != state.handles.end() ? state.error : win::kErrorInvalidHandle;
        return nullptr;
    }
    *error = win::kErrorAccessDenied;
    if ((open->second.access & right) != right) return nullptr;
    auto found = state.keys.find(open->second.path);
    *error = win::kErrorKeyDeleted;
    return found == state.keys.end() ? nullptr : &found->second;
}

// Records a box that was shown and gives the next queued answer, 0 when none
// is left. A box owned by a handle that is no window (the fake's only window
// is the desktop) is not shown: 0.
int ShowBox(FakeOp via, OsWindow owner, OsModule instance, const char* text, const char* caption, uint32_t style,
            const char* icon, uint32_t timeout, uint32_t language) {
    uintptr_t window = reinterpret_cast<uintptr_t>(owner);
    if (window != 0 && window != kDesktop) return 0;
    bool ownInstance = reinterpret_cast<uintptr_t>(instance) == kModule;
    state.boxes.push_back(FakeBox{kOpNames[via], window != 0, window == kDesktop, ownInstance, text ? text : "",
                                  caption ? caption : "", style, icon ? icon : "", timeout, language});
    return state.nextAnswer < state.answers.size() ? state.answers[state.nextAnswer++] : 0;
}

// Whether a name of list, separated by ';', is a value of key or, with
// subKeys, the name of a sub key of it.
bool HasAnyOf(const std::string& key, const char* list, bool subKeys) {
    for (const std::string& name : FakeNames(list)) {
        std::string path = key;
        if (subKeys) path.append("\\").append(name);
        auto found = state.keys.find(Lower(path));
        if (found != state.keys.end() && (subKeys || found->second.values.count(Lower(name)))) return true;
    }
    return false;
}

// RegDeleteKey deletes a key without sub keys, RegDeleteTree a key with every
// key below it; both stop at a key whose access list lets the user only read it.
long DeleteKeys(FakeOp op, OsKey root, const char* subKey) {
    bool fail = Call(op, KeyName(root) + " " + Show(subKey));
    std::string path = Resolve(root, subKey);
    if (path.empty()) return win::kErrorInvalidHandle;
    if (fail) return state.error;
    std::string lower = Lower(path);
    if (!state.keys.count(lower)) return win::kErrorFileNotFound;
    std::vector<std::string> tree = TreeOf(lower);
    if (op == kOpRegDeleteKey && tree.size() > 1) return win::kErrorAccessDenied;
    // In reverse order of their paths every key comes before its parent.
    for (auto key = tree.rbegin(); key != tree.rend(); ++key) {
        if (state.keys[*key].locked) return win::kErrorAccessDenied;
        state.keys.erase(*key);
    }
    return win::kErrorSuccess;
}

// Like Windows: %NAME% of a defined variable is replaced, anything else
// kept; the closing % of an undefined name may open the next one. *lacks
// tells whether a value put in holds a letter Windows-1252 lacks.
std::string Expand(const std::string& text, bool* lacks) {
    *lacks = false;
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        auto value = state.env.end();
        if (close != std::string::npos) value = state.env.find(Lower(text.substr(i + 1, close - i - 1)));
        size_t next = close == std::string::npos ? i + 1 : close;
        out += value != state.env.end() ? value->second : text.substr(i, next - i);
        *lacks = *lacks || (value != state.env.end() && state.envLacking.count(value->first));
        i = value != state.env.end() ? close + 1 : next;
    }
    return out;
}

// The path of a key of HKEY_LOCAL_MACHINE in the fake's one registry, as
// a program sees it in view.
std::string MachinePath(OsRegistryView view, const std::string& subKey) {
    bool redirected = view == kRegistryView32 && state.windows64 && Lower(subKey).rfind(kSoftware, 0) == 0;
    return kMachineRoot +
           (redirected ? subKey.substr(0, sizeof kSoftware - 1) + kWow64Node + subKey.substr(sizeof kSoftware - 1)
                       : subKey);
}

}  // namespace

void FakeReset() {
    state = FakeState();
    CreateKeyPath("SOFTWARE\\Classes");
}

void FakeSetCommandLine(const std::string& commandLine) { state.commandLine = commandLine; }
void FakeSetEnv(const std::string& name, const std::string& value, bool inWindows1252) {
    state.env[Lower(name)] = value;
    if (inWindows1252) state.envLacking.erase(Lower(name));
    if (!inWindows1252) state.envLacking.insert(Lower(name));
}
void FakeSetWindows32() {
    state.windows64 = false;
    state.env.erase("programw6432");
    state.env["programfiles"] = "C:\\Program Files";
}
std::string FakeMachineKey(OsRegistryView view, const std::string& path) { return MachinePath(view, path); }
void FakeUnsetEnv(const std::string& name) { state.env.erase(Lower(name)); }
void FakeAddFile(const std::string& path) { state.files[Lower(path)] = win::kFileAttributeNormal; }
void FakeAddFolder(const std::string& path) { state.files[Lower(path)] = win::kFileAttributeDirectory; }
void FakeHideWindowStation() { state.stationVisible = false; }
void FakeQueueAnswer(int button) { state.answers.push_back(button); }
void FakeSetUser32Loadable(bool loadable) { state.user32Loadable = loadable; }
void FakeSetTimeoutBoxExported(bool exported) { state.timeoutBoxExported = exported; }
void FakeSetDpiExports(bool perMonitor, bool systemWide) {
    state.dpiContextExported = perMonitor;
    state.dpiAwareExported = systemWide;
}
std::string FakeDpiAwareness() { return state.dpiAwareness; }

void FakeFailCall(int callNumber, bool fromThereOn) {
    state.failAt = callNumber;
    state.failFromThereOn = fromThereOn;
}

void FakeFailOp(FakeOp op, int nth, long error) { state.failRules.push_back(FailRule{op, nth, error}); }

void FakeAddKey(const std::string& path) { CreateKeyPath(path); }

void FakeSetValue(const std::string& path, const std::string& name, const std::string& text) {
    FakeSetTypedValue(path, name, win::kRegSz, text + '\0');
}

void FakeSetTypedValue(const std::string& path, const std::string& name, uint32_t type, const std::string& data,
                       bool inWindows1252) {
    KeyAt(path).values[Lower(name)] = FakeValue{data, type, inWindows1252};
}

void FakeLockKey(const std::string& path) { KeyAt(path).locked = true; }
void FakeMakeKeyVolatile(const std::string& path) { KeyAt(path).isVolatile = true; }

bool FakeKeyExists(const std::string& path) { return state.keys.count(Lower(path)) != 0; }
bool FakeHasValue(const std::string& path, const std::string& name) {
    auto key = state.keys.find(Lower(path));
    return key != state.keys.end() && key->second.values.count(Lower(name));
}
uint32_t FakeGrantedAccess(OsKey key) {
    auto open = state.handles.find(reinterpret_cast<uintptr_t>(key));
    return open == state.handles.end() ? 0 : open->second.access;
}
bool FakeFileExists(const std::string& path) {
    auto file = state.files.find(Lower(path));
    return file != state.files.end() && file->second == win::kFileAttributeNormal;
}

bool FakeGetString(const std::string& path, const std::string& name, std::string* text) {
    auto key = state.keys.find(Lower(path));
    if (key == state.keys.end()) return false;
    auto value = key->second.values.find(Lower(name));
    if (value == key->second.values.end() || value->second.type != win::kRegSz) return false;
    const std::string& data = value->second.data;
    if (data.find('\0') != data.size() - 1) return false;
    *text = data.substr(0, data.size() - 1);
    return true;
}

std::string FakeRegistryDump() {
    std::string dump;
    for (const auto& key : state.keys) {
        dump += "[" + key.second.path + "]\n";
        for (const auto& value : key.second.values) {
            const FakeValue& v = value.second;
            std::string type = v.type == win::kRegSz ? "" : "(" + std::to_string(v.type) + ")";
            dump += "  " + (value.first.empty() ? std::string("@") : value.first) + type + "=" + v.data + "\n";
        }
    }
    return dump;
}

std::vector<std::string> FakeNames(const std::string& list) {
    std::vector<std::string> names;
    std::istringstream stream(list);
    for (std::string name; std::getline(stream, name, ';');) names.push_back(name);
    return names;
}

std::string FakeExplorerCommand(const std::string& verbKey) {
    const std::string commandKey = verbKey + "\\command";
    bool hiddenOrDiverted = HasAnyOf(verbKey, facts::kVerbHidingValues, false) ||
                            HasAnyOf(verbKey, facts::kVerbDivertingValues, false) ||
                            HasAnyOf(verbKey, facts::kVerbDivertingSubKeys, true) ||
                            HasAnyOf(commandKey, facts::kCommandDivertingValues, false);
    std::string text;
    return !hiddenOrDiverted && FakeGetString(commandKey, "", &text) ? text : std::string();
}

// The program ends the process from deep inside; the fake jumps back here
// instead. Only plain buffers lie in between, so nothing is skipped that
// would need cleaning up.
FakeEnd FakeRun() {
    if (setjmp(exitJump) == 0) {  // NOLINT(cert-err52-cpp)
        RunKompakto();
    }
    return FakeEnd{exitCode, FakeLeftOpen()};
}

std::string FakeLeftOpen() {
    std::string open;
    for (const auto& handle : state.handles) open += "the key " + handle.second.path + "\n";
    if (state.libraries > 0) open += std::to_string(state.libraries) + " libraries loaded\n";
    return open;
}

const std::vector<FakeCall>& FakeCalls() { return state.calls; }
const std::vector<FakeBox>& FakeBoxes() { return state.boxes; }
const std::vector<std::string>& FakeOpenedAddresses() { return state.opened; }

// A failed call gives a handle that is no key, which every registry
// operation it is handed refuses.
OsKey OsCurrentUserKey() {
    return Call(kOpCurrentUserKey, "") ? nullptr : reinterpret_cast<OsKey>(win::kHkeyCurrentUser);
}

const char* OsGetCommandLine() { return Call(kOpGetCommandLine, "") ? "" : state.commandLine.c_str(); }

void OsExitProcess(unsigned code) {
    Call(kOpExitProcess, std::to_string(code));
    exitCode = static_cast<int>(code);
    longjmp(exitJump, 1);  // NOLINT(cert-err52-cpp)
}

OsModule OsGetModuleHandle() {
    return Call(kOpGetModuleHandle, "null") ? nullptr : reinterpret_cast<OsModule>(kModule);
}

OsWindow OsGetDesktopWindow() { return Call(kOpGetDesktopWindow, "") ? nullptr : reinterpret_cast<OsWindow>(kDesktop); }

// Where Windows does not say, boxes count as seen.
bool OsBoxesCanBeSeen() { return Call(kOpBoxesCanBeSeen, "") || state.stationVisible; }

void OsMessageBeep(uint32_t type) { Call(kOpMessageBeep, Hex(type)); }

int OsMessageBoxIndirect(const OsBoxParams* p) {
    if (Call(kOpMessageBoxIndirect, Show(p->caption) + " style=" + Hex(p->style))) return 0;
    return ShowBox(kOpMessageBoxIndirect, p->owner, p->instance, p->text, p->caption, p->style, p->iconName, 0, 0);
}

int OsMessageBox(OsWindow owner, const char* text, const char* caption, uint32_t style) {
    if (Call(kOpMessageBox, Show(caption) + " style=" + Hex(style))) return 0;
    return ShowBox(kOpMessageBox, owner, nullptr, text, caption, style, nullptr, 0, 0);
}

OsModule OsLoadLibrary(const char* name) {
    if (Call(kOpLoadLibrary, Show(name)) || !state.user32Loadable || Lower(name) != "user32.dll") return nullptr;
    state.libraries++;
    return reinterpret_cast<OsModule>(kUser32);
}

OsProc OsGetProcAddress(OsModule module, const char* name) {
    if (Call(kOpGetProcAddress, Show(name)) || reinterpret_cast<uintptr_t>(module) != kUser32 || !name) return nullptr;
    const std::map<std::string, uintptr_t> exports = {
        {state.timeoutBoxExported ? "MessageBoxTimeoutW" : "", kTimeoutProc},
        {state.dpiContextExported ? "SetProcessDpiAwarenessContext" : "", kDpiContextProc},
        {state.dpiAwareExported ? "SetProcessDPIAware" : "", kDpiAwareProc},
    };
    auto found = exports.find(name);
    return found == exports.end() || !*name ? nullptr : reinterpret_cast<OsProc>(found->second);
}

void OsFreeLibrary(OsModule module) {
    Call(kOpFreeLibrary, "");
    if (reinterpret_cast<uintptr_t>(module) == kUser32) state.libraries--;
}

int OsCallMessageBoxTimeout(OsProc proc, OsWindow owner, const char* text, const char* caption, uint32_t style,
                            uint32_t language, uint32_t milliseconds) {
    if (Call(kOpCallMessageBoxTimeout, Show(caption) + " style=" + Hex(style) + " ms=" + std::to_string(milliseconds)))
        return 0;
    if (reinterpret_cast<uintptr_t>(proc) != kTimeoutProc) return 0;
    return ShowBox(kOpCallMessageBoxTimeout, owner, nullptr, text, caption, style, nullptr, milliseconds, language);
}

// Like Windows, a process's awareness is set once: a second call is refused,
// and so is a value that is no awareness context.
bool OsCallSetProcessDpiAwarenessContext(OsProc proc, intptr_t context) {
    static const std::map<intptr_t, std::string> kContexts = {
        {win::kDpiAwarenessContextUnaware, "unaware"},
        {win::kDpiAwarenessContextSystemAware, "system"},
        {win::kDpiAwarenessContextPerMonitorAware, "per-monitor"},
        {win::kDpiAwarenessContextPerMonitorAwareV2, "per-monitor-v2"},
        {win::kDpiAwarenessContextUnawareGdiScaled, "unaware-gdi-scaled"}};
    if (Call(kOpCallSetProcessDpiAwarenessContext, std::to_string(context))) return false;
    auto it = kContexts.find(context);
    if (reinterpret_cast<uintptr_t>(proc) != kDpiContextProc || it == kContexts.end() ||
        state.dpiAwareness != "unaware")
        return false;
    state.dpiAwareness = it->second;
    return true;
}

bool OsCallSetProcessDpiAware(OsProc proc) {
    if (Call(kOpCallSetProcessDpiAware, "") || reinterpret_cast<uintptr_t>(proc) != kDpiAwareProc) return false;
    if (state.dpiAwareness == "unaware") state.dpiAwareness = "system";
    return true;
}

uint32_t OsExpandEnvironmentStrings(const char* src, char* dst, uint32_t size) {
    if (Call(kOpExpandEnvironmentStrings, Show(src) + " size=" + std::to_string(size))) return 0;
    bool lacks = false;
    std::string out = Expand(src, &lacks);
    if (lacks) return 0;
    uint32_t needed = static_cast<uint32_t>(out.size()) + 1;
    if (needed <= size) memcpy(dst, out.c_str(), needed);
    return needed;
}

// A folder may be named with a backslash at its end, a file not.
uint32_t OsGetFileAttributes(const char* path) {
    if (Call(kOpGetFileAttributes, Show(path))) return win::kInvalidFileAttributes;
    std::string name = Lower(path);
    bool folderOnly = !name.empty() && name.back() == '\\';
    if (folderOnly) name.pop_back();
    auto file = state.files.find(name);
    if (file == state.files.end() || (folderOnly && file->second != win::kFileAttributeDirectory)) {
        return win::kInvalidFileAttributes;
    }
    return file->second;
}

long OsRegCreateKey(OsKey root, const char* subKey, OsKey* result) {
    *result = nullptr;
    bool fail = Call(kOpRegCreateKey, KeyName(root) + " " + Show(subKey));
    std::string path = Resolve(root, subKey);
    if (path.empty()) return win::kErrorInvalidHandle;
    // As Windows checks them: the key's own access list when it is there,
    // else that of the key its first missing parent is created in; the keys
    // on the way are passed without a check.
    std::string checked = path;
    while (!checked.empty() && !state.keys.count(Lower(checked))) checked = Parent(checked);
    bool refused = !checked.empty() && state.keys[Lower(checked)].locked;
    if (fail || refused) {
        // Windows may have created some of the missing parents before it failed.
        if (!refused) CreateKeyPath(Parent(path));
        return fail ? state.error : win::kErrorAccessDenied;
    }
    // The key is made to last, which it cannot below a key that does not.
    if (!state.keys.count(Lower(path)) && VolatileOnTheWay(path)) return win::kErrorChildMustBeVolatile;
    CreateKeyPath(path);
    *result = NewHandle(path, win::kKeyAllAccess);
    return win::kErrorSuccess;
}

long OsRegOpenKeyEx(OsKey root, const char* subKey, uint32_t access, OsKey* result) {
    *result = nullptr;
    bool fail = Call(kOpRegOpenKeyEx, KeyName(root) + " " + Show(subKey) + " access=" + Hex(access));
    std::string path = Resolve(root, subKey);
    if (fail) return state.error;
    if (path.empty()) return win::kErrorInvalidHandle;
    auto it = state.keys.find(Lower(path));
    if (it == state.keys.end()) return win::kErrorFileNotFound;
    if (it->second.locked && (access & ~win::kKeyRead) != 0) return win::kErrorAccessDenied;
    *result = NewHandle(path, access);
    return win::kErrorSuccess;
}

long OsRegOpenMachineKey(OsRegistryView view, const char* subKey, OsKey* result) {
    *result = nullptr;
    const char* name = view == kRegistryView64 ? "HKLM64 " : "HKLM32 ";
    if (Call(kOpRegOpenMachineKey, name + Show(subKey))) return state.error;
    std::string path = MachinePath(view, subKey ? subKey : "");
    if (!state.keys.count(Lower(path))) return win::kErrorFileNotFound;
    *result = NewHandle(path, win::kKeyQueryValue);
    return win::kErrorSuccess;
}

long OsRegQueryInfoKey(OsKey key, uint32_t* subKeyCount) {
    long error = win::kErrorSuccess;
    FakeKey* opened = KeyOf(kOpRegQueryInfoKey, key, "", win::kKeyQueryValue, &error);
    if (!opened) return error;
    const std::string path = Lower(opened->path);
    *subKeyCount = 0;
    for (const std::string& below : TreeOf(path)) *subKeyCount += Parent(below) == path;
    return win::kErrorSuccess;
}

long OsRegQueryValueEx(OsKey key, const char* valueName) {
    long error = win::kErrorSuccess;
    FakeKey* opened = KeyOf(kOpRegQueryValueEx, key, " " + Show(valueName), win::kKeyQueryValue, &error);
    if (!opened) return error;
    return opened->values.count(Lower(valueName)) ? win::kErrorSuccess : win::kErrorFileNotFound;
}

long OsRegQueryString(OsKey key, const char* valueName, char* text, uint32_t size) {
    if (size > 0) text[0] = '\0';
    long error = win::kErrorSuccess;
    std::string arguments = " " + Show(valueName) + " size=" + std::to_string(size);
    FakeKey* opened = KeyOf(kOpRegQueryString, key, arguments, win::kKeyQueryValue, &error);
    if (!opened) return error;
    auto found = opened->values.find(Lower(valueName));
    if (found == opened->values.end()) return win::kErrorFileNotFound;
    // As the Windows side finds them: data that does not fit, whatever its
    // type; a value of another type; a text that does not fit once expanded;
    // a letter that Windows-1252 lacks.
    const FakeValue& value = found->second;
    if (value.data.size() > size) return win::kErrorMoreData;
    if (value.type != win::kRegSz && value.type != win::kRegExpandSz) return win::kErrorUnsupportedType;
    std::string read = value.data.substr(0, value.data.find('\0'));
    bool lacks = false;
    if (value.type == win::kRegExpandSz) read = Expand(read, &lacks);
    if (read.size() >= size) return win::kErrorMoreData;
    if (!value.inWindows1252 || lacks) return win::kErrorNoUnicodeTranslation;
    memcpy(text, read.c_str(), read.size() + 1);
    return win::kErrorSuccess;
}

long OsRegSetValueEx(OsKey key, const char* valueName, uint32_t type, const char* text, uint32_t byteCount) {
    long error = win::kErrorSuccess;
    std::string arguments = " " + Show(valueName) + " type=" + std::to_string(type) + " " + Show(text);
    arguments += " bytes=" + std::to_string(byteCount);
    FakeKey* opened = KeyOf(kOpRegSetValueEx, key, arguments, win::kKeySetValue, &error);
    if (!opened) return error;
    opened->values[Lower(valueName)] = FakeValue{std::string(text, byteCount), type, true};
    return win::kErrorSuccess;
}

long OsRegCloseKey(OsKey key) {
    bool fail = Call(kOpRegCloseKey, KeyName(key));
    bool known = state.handles.erase(reinterpret_cast<uintptr_t>(key)) != 0;
    if (fail) return state.error;
    return known ? win::kErrorSuccess : win::kErrorInvalidHandle;
}

long OsRegDeleteKey(OsKey root, const char* subKey) { return DeleteKeys(kOpRegDeleteKey, root, subKey); }
long OsRegDeleteTree(OsKey root, const char* subKey) { return DeleteKeys(kOpRegDeleteTree, root, subKey); }

long OsRegDeleteValue(OsKey key, const char* valueName) {
    long error = win::kErrorSuccess;
    FakeKey* opened = KeyOf(kOpRegDeleteValue, key, " " + Show(valueName), win::kKeySetValue, &error);
    if (!opened) return error;
    return opened->values.erase(Lower(valueName)) ? win::kErrorSuccess : win::kErrorFileNotFound;
}

// A web address opens in the browser, a file when it is there.
intptr_t OsOpenPage(const char* address) {
    if (Call(kOpOpenPage, Show(address))) return state.error;
    const std::string lower = Lower(address);
    bool web = lower.rfind("https://", 0) == 0 || lower.rfind("http://", 0) == 0;
    if (!web && !FakeFileExists(address)) return win::kSeErrFileNotFound;
    state.opened.push_back(address);
    return kShellExecuteDone;
}
