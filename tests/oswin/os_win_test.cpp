// The Windows operations of src/platform/win, each tried on its own under
// Wine against real keys, files, windows and processes: what an operation
// hands back must be what Windows did, and a text must reach Windows, and come
// back from it, letter for letter.
//
//   oswin-test.exe [--code-page=N] [GoogleTest options]
//
// --code-page names the system's ANSI code page that the run is meant to
// have: the texts must pass whatever it is.
//
// Some cases start this program again as a child, which then does one thing:
//   --command-line FILE   writes the text OsGetCommandLine gives to FILE
//   --exit N              ends through OsExitProcess(N)
//   --report FILE         writes its show state, folder and command line to FILE
//   --load NAME           loads the DLL NAME by its bare name; 0 when it did
#include <windows.h>
// After windows.h, which they build on.
#include <sddl.h>
#include <winternl.h>

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

// Windows-1252 as Microsoft's table has it: the bytes below 0x80 and from 0xA0
// on stand for the code point of their number, 0x80 to 0x9F for these (the
// five that the code page leaves unassigned for the C1 controls of theirs).
const wchar_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                               0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                               0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Characters that Windows-1252 lacks but whose best-fit forms are letters and
// signs that decide what a command line or a path means: a fullwidth s, a
// long s, a fullwidth S, a fullwidth quote, two spaces, a fullwidth backslash
// and a fullwidth colon.
const wchar_t kLookAlikes[] = {0xFF53, 0x017F, 0xFF33, 0xFF02, 0x3000, 0x2002, 0xFF3C, 0xFF1A};

const char kScratchKey[] = "Software\\Kompakto layer test";
const wchar_t kScratchFolder[] = L"C:\\kompakto-layer-test";
UINT ExpectedCodePage;

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    for (unsigned char c : text) {
        wide += c >= 0x80 && c < 0xA0 ? kHigh1252[c - 0x80] : static_cast<wchar_t>(c);
    }
    return wide;
}

// Only for texts that are ASCII, such as the paths this program makes.
std::string Ascii(const std::wstring& wide) {
    std::string text;
    for (wchar_t c : wide) {
        text += c < 0x80 ? static_cast<char>(c) : '#';
    }
    return text;
}

// Every byte but zero, in order, less those in without.
std::string AllBytes(const char* without = "") {
    std::string text;
    for (int c = 1; c < 256; c++) {
        if (!strchr(without, c)) {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string Scratch(const char* name) { return std::string(kScratchKey) + "\\" + name; }

HKEY MakeKey(const std::string& path, DWORD options = REG_OPTION_NON_VOLATILE) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr))
        << path;
    return key;
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void LimitKey(const std::string& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, WRITE_DAC, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor));
    RegCloseKey(key);
    LocalFree(descriptor);
}

DWORD GrantedAccess(OsKey key) {
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    NTSTATUS status =
        NtQueryObject(reinterpret_cast<HANDLE>(key), ObjectBasicInformation, &info, sizeof(info), nullptr);
    return status == 0 ? info.GrantedAccess : 0xDEADBEEF;
}

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = L"";
    DWORD length = module ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
    return std::wstring(path, length);
}

// The name of the DLL that the run lays beside this program, empty when
// there is none.
std::wstring ProbeName() {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((FolderOf(ProgramPath()) + L"\\*.dll").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return L"";
    }
    FindClose(search);
    return found.cFileName;
}

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, length);
}

std::string ReadFile(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        content.append(chunk, read);
    }
    CloseHandle(file);
    return content;
}

void WriteFile(const std::wstring& path, const void* data, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
}

// What a child wrote, once it is there in full (it writes a temporary file and
// renames it); empty when nothing came within the time.
std::string AwaitFile(const std::wstring& path, DWORD milliseconds = 20000) {
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return ReadFile(path);
        }
        Sleep(50);
    }
    return "";
}

void WriteWhole(const std::wstring& path, const void* data, DWORD size) {
    std::wstring partial = path + L".part";
    WriteFile(partial, data, size);
    MoveFileW(partial.c_str(), path.c_str());
}

// Starts this program with the arguments after its name; its exit code, or
// -1 when it could not be started or did not end in time.
long RunChild(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + ProgramPath() + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(ProgramPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

// --- Imports taken over: what the operations hand to Windows ---------------
// The operations call user32 through this program's import table: what they
// hand over, which Wine's boxes do not show (the style's MB_SETFOREGROUND, the
// language, the help id), is read there, as a relay trace would read it. A
// case puts a recorder in the slot for its own time; the recorder passes the
// call on.

extern "C" void* ImportedMessageBoxIndirectW __asm__("__imp__MessageBoxIndirectW@4");
extern "C" void* ImportedMessageBeep __asm__("__imp__MessageBeep@4");

void* Replace(void** slot, void* with) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
    void* previous = *slot;
    *slot = with;
    VirtualProtect(slot, sizeof(*slot), old, &old);
    return previous;
}

typedef int(WINAPI* BoxIndirectProc)(const MSGBOXPARAMSW*);
BoxIndirectProc RealBoxIndirect;
MSGBOXPARAMSW RecordedRecord;
std::wstring RecordedIcon;
bool Inject;  // the answer of a box that could not be shown, instead of a box
int InjectedAnswer;

int WINAPI RecordBoxIndirect(const MSGBOXPARAMSW* record) {
    RecordedRecord = *record;
    RecordedIcon = record->lpszIcon ? record->lpszIcon : L"(none)";
    return Inject ? InjectedAnswer : RealBoxIndirect(record);
}

UINT RecordedBeep;
BOOL WINAPI RecordBeep(UINT type) {
    RecordedBeep = type;
    return TRUE;
}

struct TimeoutCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT style;
    WORD language;
    DWORD milliseconds;
};
TimeoutCall RecordedTimeout;

int WINAPI RecordTimeoutBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, WORD language, DWORD ms) {
    RecordedTimeout = {owner, text, caption, style, language, ms};
    return IDOK;
}

// --- Boxes, read from outside ------------------------------------------------

struct SeenBox {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;
    std::vector<int> buttons;
    int focused = 0;
    bool hasIcon = false;
};

BOOL CALLBACK NoteIcon(HWND child, LPARAM seen) {
    wchar_t type[16] = L"";
    GetClassNameW(child, type, 16);
    if (lstrcmpiW(type, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0)) {
        reinterpret_cast<SeenBox*>(seen)->hasIcon = true;
    }
    return TRUE;
}

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t type[16] = L"";
    GetClassNameW(window, type, 16);
    if (lstrcmpW(type, L"#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// Waits on another thread for the box that show puts up on this one, reads
// it, and presses button; returns show's answer. Any box of this thread is
// taken, so that a box with another caption than asked for is seen, not left
// waiting.
template <typename Show>
int ShowAndRead(int button, SeenBox* seen, Show show) {
    DWORD thread = GetCurrentThreadId();
    std::thread watcher([thread, button, seen] {
        HWND box = nullptr;
        for (int i = 0; i < 400 && !box; i++) {
            Sleep(25);
            EnumThreadWindows(thread, FindBox, reinterpret_cast<LPARAM>(&box));
        }
        if (!box) {
            return;
        }
        Sleep(100);  // the box has set its focus
        seen->found = true;
        wchar_t text[2048] = L"";
        GetWindowTextW(box, text, 2048);
        seen->caption = text;
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        seen->text = text;
        seen->owner = GetWindow(box, GW_OWNER);
        for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
            if (GetDlgItem(box, id)) {
                seen->buttons.push_back(id);
            }
        }
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) {
            seen->focused = GetDlgCtrlID(info.hwndFocus);
        }
        EnumChildWindows(box, NoteIcon, reinterpret_cast<LPARAM>(seen));
        PostMessageW(box, WM_COMMAND, button, 0);
    });
    int answer = show();
    watcher.join();
    return answer;
}

// A window of this program's to own the boxes.
HWND OwnerWindow() {
    static HWND owner = CreateWindowExW(0, L"Static", L"Kompakto layer test owner", WS_OVERLAPPED, 0, 0, 10, 10,
                                        nullptr, nullptr, nullptr, nullptr);
    return owner;
}

// What a box shows of its text: a message box keeps its text as given.
const std::string kBoxText = AllBytes() + "\rzweite Zeile";

class Registry : public testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
        HKEY plain = MakeKey(Scratch("plain"));
        DWORD one = 1;
        RegSetValueExW(plain, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
        RegCloseKey(plain);
        RegCloseKey(MakeKey(Scratch("plain\\a")));
        RegCloseKey(MakeKey(Scratch("plain\\b")));
        RegCloseKey(MakeKey(Scratch("leaf")));
        RegCloseKey(MakeKey(Scratch("volatile"), REG_OPTION_VOLATILE));
        HKEY locked = MakeKey(Scratch("locked"));
        RegSetValueExW(locked, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
        RegCloseKey(locked);
        // Everything but writing values, making sub keys and deleting, for everyone.
        LimitKey(Scratch("locked"), L"D:(D;;0x10006;;;WD)(A;;KA;;;WD)");
    }
    void TearDown() override {
        LimitKey(Scratch("locked"), L"D:(A;;KA;;;WD)");
        RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    }
};

OsKey Open(const char* name, uint32_t access) {
    OsKey key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, Wide(Scratch(name)).c_str(), 0, access, reinterpret_cast<HKEY*>(&key));
    return key;
}

// Calls operation on a key of the scratch tree opened with access, and closes it.
template <typename Operation>
long WithKey(const char* name, uint32_t access, Operation operation) {
    OsKey key = Open(name, access);
    long result = operation(key);
    RegCloseKey(reinterpret_cast<HKEY>(key));
    return result;
}

long OpenAs(const char* name, uint32_t access) {
    OsKey key = nullptr;
    long result = OsRegOpenKeyEx(OsCurrentUserKey(), Scratch(name).c_str(), access, &key);
    if (key) {
        RegCloseKey(reinterpret_cast<HKEY>(key));
    }
    return result;
}

long CreateAs(const char* name, uint32_t options) {
    OsKey key = nullptr;
    long result = OsRegCreateKeyEx(OsCurrentUserKey(), Scratch(name).c_str(), "", options, kKeyAllAccess, &key);
    if (key) {
        RegCloseKey(reinterpret_cast<HKEY>(key));
    }
    return result;
}

long SubKeysOf(const char* name, uint32_t access, uint32_t expectedCount) {
    return WithKey(name, access, [expectedCount](OsKey key) {
        uint32_t count = 12345;
        long result = OsRegQueryInfoKey(key, &count);
        return result == ERROR_SUCCESS && count != expectedCount ? -1 : result;
    });
}

long SetValueOf(const char* name, uint32_t access) {
    return WithKey(name, access, [](OsKey key) { return OsRegSetValueEx(key, "neu", kRegSz, "x", 2); });
}

long QueryValueOf(const char* name, const char* value, uint32_t access) {
    return WithKey(name, access, [value](OsKey key) { return OsRegQueryValueEx(key, value); });
}

long DeleteValueOf(const char* name, const char* value, uint32_t access) {
    return WithKey(name, access, [value](OsKey key) { return OsRegDeleteValue(key, value); });
}

long DeleteKeyOf(const char* name) { return OsRegDeleteKey(OsCurrentUserKey(), Scratch(name).c_str()); }

long DeleteTreeOf(const char* name) { return OsRegDeleteTree(OsCurrentUserKey(), Scratch(name).c_str()); }

struct RegistryCase {
    const char* contract;
    long (*call)();
    long expected;
    const char* gone;  // a key or value (key:value) that the call takes away, or null
};

const RegistryCase kRegistryCases[] = {
    {"open: a key that is there", [] { return OpenAs("plain", kKeyQueryValue); }, ERROR_SUCCESS, nullptr},
    {"open: a key that is not there", [] { return OpenAs("missing", kKeyQueryValue); }, ERROR_FILE_NOT_FOUND},
    {"open: below a key that is not there", [] { return OpenAs("missing\\deeper", kKeyQueryValue); },
     ERROR_FILE_NOT_FOUND},
    {"open: to write values where the access list denies it", [] { return OpenAs("locked", kKeySetValue); },
     ERROR_ACCESS_DENIED},
    {"open: to delete where the access list denies it", [] { return OpenAs("locked", kKeyQueryValue | kDelete); },
     ERROR_ACCESS_DENIED},
    {"open: to query where the access list allows it", [] { return OpenAs("locked", kKeyQueryValue); }, ERROR_SUCCESS},
    {"create: a key with missing parents", [] { return CreateAs("new\\deeper", kRegOptionNonVolatile); },
     ERROR_SUCCESS},
    {"create: a key that is there opens it", [] { return CreateAs("plain", kRegOptionNonVolatile); }, ERROR_SUCCESS},
    {"create: a lasting key below a volatile one", [] { return CreateAs("volatile\\child", kRegOptionNonVolatile); },
     ERROR_CHILD_MUST_BE_VOLATILE},
    {"create: a key whose access list denies writing", [] { return CreateAs("locked", kRegOptionNonVolatile); },
     ERROR_ACCESS_DENIED},
    {"query info: two sub keys", [] { return SubKeysOf("plain", kKeyQueryValue, 2); }, ERROR_SUCCESS},
    {"query info: no sub key", [] { return SubKeysOf("leaf", kKeyQueryValue, 0); }, ERROR_SUCCESS},
    {"query info: no key", [] { return SubKeysOf("missing", kKeyQueryValue, 0); }, ERROR_INVALID_HANDLE},
    {"query value: one of another type", [] { return QueryValueOf("plain", "v", kKeyQueryValue); }, ERROR_SUCCESS},
    {"query value: one that is not there", [] { return QueryValueOf("plain", "w", kKeyQueryValue); },
     ERROR_FILE_NOT_FOUND},
    {"query value: an unset default value", [] { return QueryValueOf("plain", "", kKeyQueryValue); },
     ERROR_FILE_NOT_FOUND},
    {"query value: a key opened without the right to query", [] { return QueryValueOf("plain", "v", kKeySetValue); },
     ERROR_ACCESS_DENIED},
    {"set value: on a key opened to write", [] { return SetValueOf("plain", kKeySetValue); }, ERROR_SUCCESS},
    {"set value: on a key opened only to query", [] { return SetValueOf("plain", kKeyQueryValue); },
     ERROR_ACCESS_DENIED},
    {"delete value: one that is there", [] { return DeleteValueOf("plain", "v", kKeySetValue); }, ERROR_SUCCESS,
     "plain:v"},
    {"delete value: one that is not there", [] { return DeleteValueOf("plain", "w", kKeySetValue); },
     ERROR_FILE_NOT_FOUND},
    {"delete value: a key opened only to query", [] { return DeleteValueOf("plain", "v", kKeyQueryValue); },
     ERROR_ACCESS_DENIED},
    {"delete key: one without sub keys", [] { return DeleteKeyOf("leaf"); }, ERROR_SUCCESS, "leaf"},
    {"delete key: one that is not there", [] { return DeleteKeyOf("missing"); }, ERROR_FILE_NOT_FOUND},
    {"delete key: below a key that is not there", [] { return DeleteKeyOf("missing\\deeper"); }, ERROR_FILE_NOT_FOUND},
    {"delete key: one with sub keys", [] { return DeleteKeyOf("plain"); }, ERROR_ACCESS_DENIED},
    {"delete tree: a key with sub keys and values", [] { return DeleteTreeOf("plain"); }, ERROR_SUCCESS, "plain"},
    {"delete tree: one that is not there", [] { return DeleteTreeOf("missing"); }, ERROR_FILE_NOT_FOUND},
    {"close: an open key", [] { return OsRegCloseKey(Open("plain", kKeyQueryValue)); }, ERROR_SUCCESS},
    {"close: no key", [] { return OsRegCloseKey(reinterpret_cast<OsKey>(static_cast<intptr_t>(0x1234))); },
     ERROR_INVALID_HANDLE},
};

bool ValueExists(const std::string& key, const std::string& value) {
    return RegGetValueW(HKEY_CURRENT_USER, Wide(key).c_str(), Wide(value).c_str(), RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

TEST_F(Registry, EveryOperationHandsBackWhatWindowsAnswered) {
    for (const RegistryCase& c : kRegistryCases) {
        TearDown();  // each case on the same fresh tree
        SetUp();
        EXPECT_EQ(c.expected, c.call()) << c.contract;
        if (c.gone) {
            std::string gone = c.gone;
            size_t colon = gone.find(':');
            bool stays = colon == std::string::npos
                             ? KeyExists(Scratch(gone.c_str()))
                             : ValueExists(Scratch(gone.substr(0, colon).c_str()), gone.substr(colon + 1));
            EXPECT_FALSE(stays) << c.contract << ": " << gone << " is still there";
        }
    }
}

TEST_F(Registry, KeysAreOpenedAndCreatedWithExactlyTheAccessAskedFor) {
    for (uint32_t access : {kKeyQueryValue, kKeySetValue, kKeyQueryValue | kDelete, kKeyAllAccess}) {
        OsKey key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, OsRegOpenKeyEx(OsCurrentUserKey(), Scratch("plain").c_str(), access, &key));
        EXPECT_EQ(access, GrantedAccess(key)) << "opened asking for " << std::hex << access;
        OsRegCloseKey(key);
        ASSERT_EQ(ERROR_SUCCESS, OsRegCreateKeyEx(OsCurrentUserKey(), Scratch("made").c_str(), "",
                                                  kRegOptionNonVolatile, access, &key));
        EXPECT_EQ(access, GrantedAccess(key)) << "created asking for " << std::hex << access;
        OsRegCloseKey(key);
    }
}

// A volatile key takes no lasting sub key: so the option a key was made with shows.
TEST_F(Registry, KeysAreMadeLastingOrVolatileAsAsked) {
    for (uint32_t options : {kRegOptionNonVolatile, static_cast<uint32_t>(REG_OPTION_VOLATILE)}) {
        RegDeleteTreeW(HKEY_CURRENT_USER, Wide(Scratch("made")).c_str());
        ASSERT_EQ(ERROR_SUCCESS, CreateAs("made", options));
        HKEY child = nullptr;
        LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, Wide(Scratch("made\\lasting")).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr);
        RegCloseKey(child);
        EXPECT_EQ(options == kRegOptionNonVolatile ? ERROR_SUCCESS : ERROR_CHILD_MUST_BE_VOLATILE, result)
            << "options " << options;
    }
}

TEST_F(Registry, ValuesAreStoredWithTheTypeAskedForAndTheirTerminatingZero) {
    const std::string name = AllBytes();  // a value's name may hold any letter
    const std::string text = AllBytes();
    for (uint32_t type : {kRegSz, static_cast<uint32_t>(REG_EXPAND_SZ)}) {
        OsKey key = Open("plain", kKeySetValue);
        ASSERT_EQ(ERROR_SUCCESS, OsRegSetValueEx(key, name.c_str(), type, text.c_str(), text.size() + 1));
        OsRegCloseKey(key);
        DWORD storedType = 0;
        std::wstring stored(1024, L'\0');
        DWORD size = stored.size() * sizeof(wchar_t);
        HKEY read = reinterpret_cast<HKEY>(Open("plain", KEY_QUERY_VALUE));
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(read, Wide(name).c_str(), nullptr, &storedType,
                                                  reinterpret_cast<BYTE*>(&stored[0]), &size));
        RegCloseKey(read);
        EXPECT_EQ(type, storedType);
        EXPECT_EQ((text.size() + 1) * sizeof(wchar_t), size) << "the value holds its zero";
        stored.resize(size / sizeof(wchar_t));
        EXPECT_EQ(Wide(text) + L'\0', stored);
    }
}

TEST_F(Registry, KeyNamesKeepEveryLetter) {
    const std::string name = AllBytes("\\");  // a key's name is anything but the separator
    ASSERT_EQ(ERROR_SUCCESS, CreateAs(name.c_str(), kRegOptionNonVolatile));
    EXPECT_TRUE(KeyExists(Scratch(name.c_str())));
    EXPECT_EQ(ERROR_SUCCESS, OpenAs(name.c_str(), kKeyQueryValue));
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyOf(name.c_str()));
    EXPECT_FALSE(KeyExists(Scratch(name.c_str())));
}

// --- Environment and files -------------------------------------------------------

TEST(Environment, ExpansionGivesEveryLetterBackAndTheSizeItNeeds) {
    const std::string text = AllBytes("%");
    SetEnvironmentVariableW(L"KOMPAKTO_LAYER_TEXT", Wide(text).c_str());
    char expanded[513];
    const char source[] = "<%KOMPAKTO_LAYER_TEXT%>";
    uint32_t needed = OsExpandEnvironmentStrings(source, expanded, 512);
    EXPECT_EQ(text.size() + 3, needed);
    EXPECT_EQ("<" + text + ">", std::string(expanded));

    memset(expanded, '#', sizeof(expanded));
    EXPECT_EQ(needed, OsExpandEnvironmentStrings(source, expanded, needed - 1)) << "too small: the size it needs";
    EXPECT_EQ('#', expanded[0]) << "too small: nothing written";

    EXPECT_EQ(24u, OsExpandEnvironmentStrings("%KOMPAKTO_LAYER_NONE%\\x", expanded, 512));
    EXPECT_STREQ("%KOMPAKTO_LAYER_NONE%\\x", expanded) << "an unknown variable stays";
}

TEST(Environment, AFolderWithALetterWindows1252LacksIsNoFolder) {
    for (wchar_t c : kLookAlikes) {
        std::wstring folder = L"C:\\Program Files";
        folder += c;
        SetEnvironmentVariableW(L"KOMPAKTO_LAYER_FOLDER", (folder + L"x\\").c_str());
        char expanded[513] = "untouched";
        EXPECT_EQ(0u, OsExpandEnvironmentStrings("%KOMPAKTO_LAYER_FOLDER%", expanded, 512))
            << "U+" << std::hex << static_cast<int>(c) << " became " << expanded;
    }
}

// A name holds every letter but the controls and <>:"/\|?*; in slices,
// as the Unix side of Wine keeps a name to 255 bytes of UTF-8.
TEST(Files, AttributesTellFileFolderAndNothingByTheirFullName) {
    CreateDirectoryW(kScratchFolder, nullptr);
    const std::string folder = Ascii(kScratchFolder) + "\\";
    const std::string letters = AllBytes(
        "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11\x12"
        "\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F<>:\"/\\|?*");
    for (size_t start = 0; start < letters.size(); start += 40) {
        const std::string path = folder + "f" + letters.substr(start, 40);
        std::wstring file = Wide(path);
        CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        uint32_t attributes = OsGetFileAttributes(path.c_str());
        EXPECT_NE(kInvalidFileAttributes, attributes) << "a file named with the letters from " << start;
        EXPECT_EQ(0u, attributes & kFileAttributeDirectory) << start;
        DeleteFileW(file.c_str());
    }
    EXPECT_NE(0u, OsGetFileAttributes(folder.c_str()) & kFileAttributeDirectory);
    EXPECT_EQ(kInvalidFileAttributes, OsGetFileAttributes((folder + "none").c_str()));
}

// --- The process ---------------------------------------------------------------

TEST(Process, RunsUnderTheSystemCodePageAskedFor) {
    if (ExpectedCodePage) {
        EXPECT_EQ(ExpectedCodePage, GetACP());
    }
}

TEST(Process, HandlesAreThoseOfThisProcess) {
    EXPECT_EQ(reinterpret_cast<OsKey>(HKEY_CURRENT_USER), OsCurrentUserKey());
    EXPECT_EQ(reinterpret_cast<OsModule>(GetModuleHandleW(nullptr)), OsGetModuleHandle());
    EXPECT_EQ(reinterpret_cast<OsWindow>(GetDesktopWindow()), OsGetDesktopWindow());
}

TEST(Process, TheExitCodeIsTheOneAskedFor) {
    for (long code : {0, 1, 2, 3}) {
        EXPECT_EQ(code, RunChild(L"--exit " + std::to_wstring(code)));
    }
}

// The command line as the child got it: every letter of Windows-1252 as it
// is; one it lacks as "?", never as its look-alike.
TEST(Process, TheCommandLineKeepsEveryLetterAndNeverTakesALookAlike) {
    struct Row {
        std::wstring argument;
        std::string expected;
    };
    std::vector<Row> rows = {{Wide(AllBytes()), AllBytes()}};
    for (wchar_t c : kLookAlikes) {
        rows.push_back({std::wstring(L"/x") + c + L"y", "/x?y"});
    }
    std::wstring out = std::wstring(kScratchFolder) + L"\\command-line.txt";
    CreateDirectoryW(kScratchFolder, nullptr);
    for (const Row& row : rows) {
        DeleteFileW(out.c_str());
        ASSERT_EQ(0, RunChild(L"--command-line " + out + L" " + row.argument));
        std::string seen = ReadFile(out);
        std::string expected = "\"" + Ascii(ProgramPath()) + "\" --command-line " + Ascii(out) + " " + row.expected;
        EXPECT_EQ(expected, seen);
    }
}

// --- Libraries ---------------------------------------------------------------

// The probe, the DLL beside this program, is copied to the current folder
// under a name of its own. A bare name finds each copy; the operation finds
// neither, only a copy of that name in the system folder.
TEST(Libraries, ALibraryLoadsFromTheSystemFolderOnly) {
    const std::wstring system = SystemFolder();
    const std::wstring beside = FolderOf(ProgramPath());
    const std::wstring current = kScratchFolder;
    const std::wstring probeName = ProbeName();
    ASSERT_NE(L"", probeName) << "no DLL beside this program";
    const std::wstring currentName = L"current-" + probeName;
    CreateDirectoryW(current.c_str(), nullptr);
    const std::wstring probe = beside + L"\\" + probeName;
    ASSERT_TRUE(CopyFileW(probe.c_str(), (current + L"\\" + currentName).c_str(), FALSE));
    SetCurrentDirectoryW(current.c_str());
    struct Row {
        std::wstring name;
        std::wstring plantedIn;
    };
    for (const Row& row : {Row{probeName, beside}, Row{currentName, current}}) {
        const std::wstring inSystem = system + L"\\" + row.name;
        // The bare name would have taken the planted copy.
        HMODULE bare = LoadLibraryW(row.name.c_str());
        EXPECT_EQ(row.plantedIn + L"\\" + row.name, ModulePath(bare));
        FreeLibrary(bare);

        OsModule module = OsLoadLibrary(Ascii(row.name).c_str());
        EXPECT_EQ(nullptr, module) << "only planted copies: nothing loads";
        ASSERT_TRUE(CopyFileW(probe.c_str(), inSystem.c_str(), FALSE));
        module = OsLoadLibrary(Ascii(row.name).c_str());
        EXPECT_EQ(0, lstrcmpiW(inSystem.c_str(), ModulePath(reinterpret_cast<HMODULE>(module)).c_str()))
            << Ascii(ModulePath(reinterpret_cast<HMODULE>(module)));
        OsFreeLibrary(module);
        EXPECT_EQ(nullptr, GetModuleHandleW(row.name.c_str())) << "freed";
        DeleteFileW(inSystem.c_str());
    }
    SetCurrentDirectoryW(beside.c_str());
}

TEST(Libraries, AFunctionIsFoundByItsName) {
    OsModule user32 = OsLoadLibrary("user32.dll");
    ASSERT_EQ(reinterpret_cast<OsModule>(GetModuleHandleW(L"user32.dll")), user32);
    EXPECT_EQ(reinterpret_cast<OsProc>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBoxTimeoutW")),
              OsGetProcAddress(user32, "MessageBoxTimeoutW"));
    EXPECT_NE(nullptr, OsGetProcAddress(user32, "MessageBoxTimeoutW"));
    EXPECT_EQ(nullptr, OsGetProcAddress(user32, "NoSuchFunction"));
    OsFreeLibrary(user32);
}

// --- Boxes ---------------------------------------------------------------------

TEST(Boxes, TheBeepIsTheOneAskedFor) {
    void* real = Replace(&ImportedMessageBeep, reinterpret_cast<void*>(RecordBeep));
    for (uint32_t type : {kMbIconAsterisk, kMbIconError, 0xFFFFFFFFu}) {
        RecordedBeep = 0;
        OsMessageBeep(type);
        EXPECT_EQ(type, RecordedBeep);
    }
    Replace(&ImportedMessageBeep, real);
}

struct IconBoxRow {
    uint32_t style;
    const char* iconName;
    uint32_t language;
    uint32_t contextHelpId;
    int press;
    std::vector<int> buttons;
    int focused;
    bool hasIcon;
};

TEST(Boxes, TheIconBoxGetsItsRecordAsGivenAndShowsIt) {
    const std::vector<IconBoxRow> rows = {
        {kMbYesNoCancel | kMbUserIcon | kMbDefButton3 | kMbSetForeground,
         "i",
         0x0407,
         0,
         IDNO,
         {IDCANCEL, IDYES, IDNO},
         IDCANCEL,
         true},
        {kMbYesNoCancel | kMbUserIcon, "i", 0, 7, IDYES, {IDCANCEL, IDYES, IDNO}, IDYES, true},
        {MB_OK | kMbUserIcon, "j", 0x0409, 0, IDOK, {IDOK}, IDOK, false},
    };
    RealBoxIndirect = reinterpret_cast<BoxIndirectProc>(
        Replace(&ImportedMessageBoxIndirectW, reinterpret_cast<void*>(RecordBoxIndirect)));
    for (const IconBoxRow& row : rows) {
        const std::string caption = "Kompakto Test \xC4\xD6\xDC " + std::to_string(row.style);
        OsBoxParams params = {reinterpret_cast<OsWindow>(OwnerWindow()),
                              OsGetModuleHandle(),
                              kBoxText.c_str(),
                              caption.c_str(),
                              row.style,
                              row.iconName,
                              row.contextHelpId,
                              row.language};
        SeenBox seen;
        int answer = ShowAndRead(row.press, &seen, [&] { return OsMessageBoxIndirect(&params); });
        SCOPED_TRACE("the box of style " + std::to_string(row.style));  // ASCII, for the XML report
        EXPECT_EQ(row.press, answer);
        EXPECT_EQ(40u, RecordedRecord.cbSize);
        EXPECT_EQ(OwnerWindow(), RecordedRecord.hwndOwner);
        EXPECT_EQ(GetModuleHandleW(nullptr), RecordedRecord.hInstance);
        EXPECT_EQ(row.style, RecordedRecord.dwStyle);
        EXPECT_EQ(Wide(row.iconName), RecordedIcon);
        EXPECT_EQ(row.contextHelpId, RecordedRecord.dwContextHelpId);
        EXPECT_EQ(row.language, RecordedRecord.dwLanguageId);
        EXPECT_EQ(nullptr, RecordedRecord.lpfnMsgBoxCallback);
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(Wide(caption), seen.caption);
        EXPECT_EQ(Wide(kBoxText), seen.text);
        EXPECT_EQ(OwnerWindow(), seen.owner);
        EXPECT_EQ(row.buttons, seen.buttons);
        EXPECT_EQ(row.focused, seen.focused);
        EXPECT_EQ(row.hasIcon, seen.hasIcon) << "the icon named " << row.iconName;
    }
    // A box that is not shown answers no button, whatever Windows or Wine say.
    Inject = true;
    for (int failure : {0, -1}) {
        InjectedAnswer = failure;
        OsBoxParams params = {nullptr, OsGetModuleHandle(), "x", "x", MB_OK, "i", 0, 0};
        EXPECT_EQ(0, OsMessageBoxIndirect(&params)) << failure;
    }
    Inject = false;
    Replace(&ImportedMessageBoxIndirectW, reinterpret_cast<void*>(RealBoxIndirect));
}

TEST(Boxes, ThePlainBoxShowsItsTextStyleAndOwnerAndAnswers) {
    const std::string caption = "Kompakto Fehler \xE4\xF6\xFC";
    SeenBox seen;
    int answer = ShowAndRead(IDOK, &seen, [&] {
        return OsMessageBox(reinterpret_cast<OsWindow>(OwnerWindow()), kBoxText.c_str(), caption.c_str(), kMbIconError);
    });
    EXPECT_EQ(IDOK, answer);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(Wide(caption), seen.caption);
    EXPECT_EQ(Wide(kBoxText), seen.text);
    EXPECT_EQ(OwnerWindow(), seen.owner);
    EXPECT_EQ(std::vector<int>({IDOK}), seen.buttons);
    EXPECT_TRUE(seen.hasIcon) << "the error icon";
}

TEST(Boxes, TheTimedBoxGetsEveryArgumentAsGiven) {
    const std::string text = AllBytes();
    const std::string caption = "Kompakto \xBB\xAB";
    for (uint32_t language : {0u, 0x0407u}) {
        RecordedTimeout = {};
        OsCallMessageBoxTimeout(reinterpret_cast<OsProc>(RecordTimeoutBox), reinterpret_cast<OsWindow>(OwnerWindow()),
                                text.c_str(), caption.c_str(), 0x10040, language, 5555);
        EXPECT_EQ(OwnerWindow(), RecordedTimeout.owner);
        EXPECT_EQ(Wide(text), RecordedTimeout.text);
        EXPECT_EQ(Wide(caption), RecordedTimeout.caption);
        EXPECT_EQ(0x10040u, RecordedTimeout.style);
        EXPECT_EQ(language, RecordedTimeout.language);
        EXPECT_EQ(5555u, RecordedTimeout.milliseconds);
    }
    // And the system's own: the box shows the text and answers.
    OsModule user32 = OsLoadLibrary("user32.dll");
    OsProc timed = OsGetProcAddress(user32, "MessageBoxTimeoutW");
    ASSERT_NE(nullptr, timed);
    SeenBox seen;
    int answer = ShowAndRead(IDOK, &seen, [&] {
        return OsCallMessageBoxTimeout(timed, nullptr, kBoxText.c_str(), caption.c_str(), 0x10040, 0, 60000);
    });
    OsFreeLibrary(user32);
    EXPECT_EQ(IDOK, answer);
    EXPECT_EQ(Wide(caption), seen.caption);
    EXPECT_EQ(Wide(kBoxText), seen.text);
}

// --- The shell ---------------------------------------------------------------

TEST(Shell, AProgramOpensWithTheShowStateFolderAndArgumentsAskedFor) {
    CreateDirectoryW(kScratchFolder, nullptr);
    const std::string program = Ascii(ProgramPath());
    const std::string folder = Ascii(kScratchFolder);
    for (int show : {SW_SHOWNORMAL, SW_HIDE, SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED}) {
        std::wstring out = std::wstring(kScratchFolder) + L"\\report-" + std::to_wstring(show) + L".txt";
        DeleteFileW(out.c_str());
        std::string parameters = "--report " + Ascii(out) + " \xE4\xF6\xFC\xD7";
        intptr_t result = OsShellExecute(reinterpret_cast<OsWindow>(GetDesktopWindow()), "open", program.c_str(),
                                         parameters.c_str(), folder.c_str(), show);
        EXPECT_GT(result, kShellExecuteLastError);
        std::string report = AwaitFile(out);
        std::wstring expected = L"show " + std::to_wstring(show) + L"\nfolder " + kScratchFolder + L"\nline ";
        ASSERT_EQ(0u, report.size() % 2);
        std::wstring seen(reinterpret_cast<const wchar_t*>(report.data()), report.size() / 2);
        EXPECT_EQ(expected, seen.substr(0, expected.size())) << "show state " << show;
        EXPECT_EQ(Wide(" " + parameters), seen.substr(seen.size() - parameters.size() - 1)) << "show state " << show;
    }
}

TEST(Shell, AFailureIsHandedBackAsTheShellGaveIt) {
    typedef HINSTANCE(WINAPI * ShellExecuteProc)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    HMODULE shell32 = LoadLibraryW((SystemFolder() + L"\\shell32.dll").c_str());
    ShellExecuteProc shellExecute =
        reinterpret_cast<ShellExecuteProc>(reinterpret_cast<void*>(GetProcAddress(shell32, "ShellExecuteW")));
    const char missing[] = "C:\\kompakto-layer-test\\none.exe";
    intptr_t expected = reinterpret_cast<intptr_t>(
        shellExecute(nullptr, L"open", Wide(missing).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    EXPECT_LE(expected, kShellExecuteLastError);
    EXPECT_EQ(expected, OsShellExecute(nullptr, "open", missing, nullptr, nullptr, kShowNormal));
    FreeLibrary(shell32);
}

// --- This program as the child of a case --------------------------------------

int RunAsChild(int argc, wchar_t** argv) {
    std::wstring mode = argv[1];
    if (mode == L"--exit" && argc > 2) {
        OsExitProcess(static_cast<unsigned>(_wtoi(argv[2])));
    }
    if (mode == L"--command-line" && argc > 2) {
        const char* line = OsGetCommandLine();
        WriteWhole(argv[2], line, static_cast<DWORD>(strlen(line)));
        return 0;
    }
    if (mode == L"--load" && argc > 2) {
        return LoadLibraryW(argv[2]) ? 0 : 1;
    }
    if (mode == L"--report" && argc > 2) {
        STARTUPINFOW startup = {};
        GetStartupInfoW(&startup);
        wchar_t folder[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, folder);
        int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
        std::wstring report = L"show " + std::to_wstring(show) + L"\nfolder " + folder + L"\nline " + GetCommandLineW();
        WriteWhole(argv[2], report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)));
        return 0;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && wcsncmp(argv[1], L"--gtest", 7) != 0 && wcsncmp(argv[1], L"--code-page=", 12) != 0) {
        return RunAsChild(argc, argv);
    }
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; i++) {
        if (wcsncmp(argv[i], L"--code-page=", 12) == 0) {
            ExpectedCodePage = static_cast<UINT>(_wtoi(argv[i] + 12));
        }
    }
    int result = RUN_ALL_TESTS();
    RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    return result;
}
