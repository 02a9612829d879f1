// The Windows operations of src/platform/win, each tried on its own under
// Wine against real keys, files, windows and processes: what an operation
// hands back must be what Windows did, and a text must reach Windows, and come
// back from it, letter for letter.
//
//   oswin-test.exe [GoogleTest options]
//
// Some cases start this program again as a child, which then does one thing:
//   --command-line FILE   writes the text OsGetCommandLine gives to FILE
//   --exit N              ends through OsExitProcess(N)
//   --load NAME           loads the DLL NAME by its bare name; 0 when it did
// With KOMPAKTO_LAYER_REPORT set to a FILE, whatever its arguments (the shell
// starts it with none), it writes its show state, folder and number of
// arguments to FILE.
#include <windows.h>
// After windows.h, which it builds on.
#include <winternl.h>

#include <ctype.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "../winhelp.h"
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
const wchar_t kReportVariable[] = L"KOMPAKTO_LAYER_REPORT";

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

// What a child wrote (whole: it writes with WhWriteWhole), once it is there;
// empty when nothing came within the time.
std::string AwaitFile(const std::wstring& path, DWORD milliseconds) {
    DWORD size = 0;
    char* bytes = WhAwaitFile(path.c_str(), milliseconds, &size);
    std::string content(bytes ? bytes : "", size);
    free(bytes);
    return content;
}

void NoteRetry(int retried) {
    if (retried) {
        testing::Test::RecordProperty("retried", "Wine failed to start a child once, and it was started again");
    }
}

// Starts this program with the arguments after its name; its exit code, or
// -1 when it could not be started or did not end in time.
long RunChild(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + ProgramPath() + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    int retried = 0;
    DWORD error = WhStartProcess(ProgramPath().c_str(), commandLine.c_str(), nullptr, &process, &retried);
    NoteRetry(retried);
    if (error) {
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

// Waits on another thread for the box that show puts up on this one, reads
// it into seen, and presses button; returns show's answer. Any box of this
// thread is taken, so that a box with another caption than asked for is seen,
// not left waiting. Whether a box came at all is whether seen has a caption.
template <typename Show>
int ShowAndRead(int button, WhBox* seen, Show show) {
    DWORD thread = GetCurrentThreadId();
    seen->caption[0] = 0;
    std::thread watcher([thread, button, seen] {
        HWND box = nullptr;
        for (int i = 0; i < 400 && !box; i++) {
            Sleep(25);
            box = WhFindBox(0, thread);
        }
        if (box) {
            WhReadBox(box, seen);
            PostMessageW(box, WM_COMMAND, button, 0);
        }
    });
    int answer = show();
    watcher.join();
    return answer;
}

std::vector<int> Buttons(const WhBox& seen) { return std::vector<int>(seen.buttons, seen.buttons + seen.buttonCount); }

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
        RegCloseKey(MakeKey(Scratch("locked")));
        // Everything but writing values, making sub keys and deleting, for everyone.
        SetAccess("locked", L"D:(D;;0x10006;;;WD)(A;;KA;;;WD)");
    }
    void TearDown() override {
        SetAccess("locked", L"D:(A;;KA;;;WD)");
        RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    }
    static void SetAccess(const char* name, const wchar_t* sddl) {
        EXPECT_EQ(ERROR_SUCCESS, WhSetKeyAccess(HKEY_CURRENT_USER, Wide(Scratch(name)).c_str(), sddl)) << name;
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

// result, once the key it gave (if any) is closed.
long Closing(const OsKey* key, long result) {
    RegCloseKey(reinterpret_cast<HKEY>(*key));
    return result;
}

long OpenAs(const char* name, uint32_t access) {
    OsKey key = nullptr;
    return Closing(&key, OsRegOpenKeyEx(OsCurrentUserKey(), Scratch(name).c_str(), access, &key));
}

long Create(const char* name) {
    OsKey key = nullptr;
    return Closing(&key, OsRegCreateKey(OsCurrentUserKey(), Scratch(name).c_str(), &key));
}

long SubKeysOf(const char* name, uint32_t expectedCount) {
    return WithKey(name, kKeyQueryValue, [expectedCount](OsKey key) {
        uint32_t count = 12345;
        long result = OsRegQueryInfoKey(key, &count);
        return result == ERROR_SUCCESS && count != expectedCount ? -1 : result;
    });
}

long SetValueOf(const char* name, uint32_t access) {
    return WithKey(name, access, [](OsKey key) { return OsRegSetValueEx(key, "neu", kRegSz, "x", 2); });
}

long QueryValueOf(const char* name, const char* value) {
    return WithKey(name, kKeyQueryValue, [value](OsKey key) { return OsRegQueryValueEx(key, value); });
}

long DeleteValueOf(const char* name, const char* value) {
    return WithKey(name, kKeySetValue, [value](OsKey key) { return OsRegDeleteValue(key, value); });
}

long DeleteKeyOf(const char* name) { return OsRegDeleteKey(OsCurrentUserKey(), Scratch(name).c_str()); }

long DeleteTreeOf(const char* name) { return OsRegDeleteTree(OsCurrentUserKey(), Scratch(name).c_str()); }

// Each operation once where Windows does it and once where it refuses, with
// the refusals the program meets: what Windows answered must come back.
struct RegistryRow {
    const char* contract;
    long (*call)();
    long expected;
    const char* gone;  // a key or value (key:value) that the call takes away, or null
};

const RegistryRow kRegistryRows[] = {
    {"open: a key that is there", [] { return OpenAs("plain", kKeyQueryValue); }, ERROR_SUCCESS, nullptr},
    {"open: a key that is not there", [] { return OpenAs("missing", kKeyQueryValue); }, ERROR_FILE_NOT_FOUND},
    {"open: to write values where the access list denies it", [] { return OpenAs("locked", kKeySetValue); },
     ERROR_ACCESS_DENIED},
    {"open: to delete where the access list denies it", [] { return OpenAs("locked", kKeyQueryValue | kDelete); },
     ERROR_ACCESS_DENIED},
    {"create: a key with missing parents", [] { return Create("new\\deeper"); }, ERROR_SUCCESS},
    {"create: a lasting key below a volatile one", [] { return Create("volatile\\child"); },
     ERROR_CHILD_MUST_BE_VOLATILE},
    {"create: a key whose access list denies writing", [] { return Create("locked"); }, ERROR_ACCESS_DENIED},
    {"query info: two sub keys and a value", [] { return SubKeysOf("plain", 2); }, ERROR_SUCCESS},
    {"query info: no key", [] { return SubKeysOf("missing", 0); }, ERROR_INVALID_HANDLE},
    {"query value: one of another type", [] { return QueryValueOf("plain", "v"); }, ERROR_SUCCESS},
    {"query value: one that is not there", [] { return QueryValueOf("plain", "w"); }, ERROR_FILE_NOT_FOUND},
    {"set value: on a key opened to write", [] { return SetValueOf("plain", kKeySetValue); }, ERROR_SUCCESS},
    {"set value: on a key opened only to query", [] { return SetValueOf("plain", kKeyQueryValue); },
     ERROR_ACCESS_DENIED},
    {"delete value: one that is there", [] { return DeleteValueOf("plain", "v"); }, ERROR_SUCCESS, "plain:v"},
    {"delete value: one that is not there", [] { return DeleteValueOf("plain", "w"); }, ERROR_FILE_NOT_FOUND},
    {"delete key: one without sub keys", [] { return DeleteKeyOf("leaf"); }, ERROR_SUCCESS, "leaf"},
    {"delete key: one that is not there", [] { return DeleteKeyOf("missing"); }, ERROR_FILE_NOT_FOUND},
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

class Operation : public Registry, public testing::WithParamInterface<RegistryRow> {};

TEST_P(Operation, HandsBackWhatWindowsAnswered) {
    const RegistryRow& row = GetParam();
    EXPECT_EQ(row.expected, row.call());
    if (row.gone) {
        std::string gone = row.gone;
        size_t colon = gone.find(':');
        bool stays = colon == std::string::npos
                         ? KeyExists(Scratch(gone.c_str()))
                         : ValueExists(Scratch(gone.substr(0, colon).c_str()), gone.substr(colon + 1));
        EXPECT_FALSE(stays) << gone << " is still there";
    }
}

// A row's name is its contract in words: "open: a key that is there" is
// Open_AKeyThatIsThere.
std::string RowName(const testing::TestParamInfo<RegistryRow>& info) {
    std::string name;
    for (const char* c = info.param.contract; *c; c++) {
        bool first = c == info.param.contract || c[-1] == ' ';
        if (isalnum(static_cast<unsigned char>(*c))) name += static_cast<char>(first ? toupper(*c) : *c);
        if (*c == ':') name += '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Registry, Operation, testing::ValuesIn(kRegistryRows), RowName);

TEST_F(Registry, KeysAreOpenedWithExactlyTheAccessAskedFor) {
    for (uint32_t access : {kKeyQueryValue, kKeySetValue, kKeyQueryValue | kDelete}) {
        OsKey key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, OsRegOpenKeyEx(OsCurrentUserKey(), Scratch("plain").c_str(), access, &key));
        EXPECT_EQ(access, GrantedAccess(key)) << "opened asking for " << std::hex << access;
        OsRegCloseKey(key);
    }
}

// A volatile key takes no lasting sub key: so whether a created key lasts shows.
TEST_F(Registry, ACreatedKeyLastsAndIsOpenWithEveryRight) {
    OsKey key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OsRegCreateKey(OsCurrentUserKey(), Scratch("made").c_str(), &key));
    EXPECT_EQ(static_cast<DWORD>(KEY_ALL_ACCESS), GrantedAccess(key));
    wchar_t keyClass[16] = L"?";
    DWORD classLength = 16;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(reinterpret_cast<HKEY>(key), keyClass, &classLength, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, classLength) << "a key of no class";
    OsRegCloseKey(key);
    RegCloseKey(MakeKey(Scratch("made\\lasting")));
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
    ASSERT_EQ(ERROR_SUCCESS, Create(name.c_str()));
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

// The window that owns the boxes of a program without a window of its own;
// with none in front, Wine's foreground window is the desktop too, so a
// window of this program's is put there.
TEST(Process, TheDesktopWindowIsTheDesktop) {
    ShowWindow(OwnerWindow(), SW_SHOW);
    SetForegroundWindow(OwnerWindow());
    wchar_t type[16] = L"";
    GetClassNameW(reinterpret_cast<HWND>(OsGetDesktopWindow()), type, 16);
    ShowWindow(OwnerWindow(), SW_HIDE);
    EXPECT_STREQ(L"#32769", type);
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
        std::string expected = "\"" + Ascii(ProgramPath()) + "\" --command-line " + Ascii(out) + " " + row.expected;
        EXPECT_EQ(expected, AwaitFile(out, 0));
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
    int press;
    std::vector<int> buttons;
    int focused;
    bool hasIcon;
};

// The icon "i" is the program's own: it shows only when the box is given
// this program's module.
TEST(Boxes, TheIconBoxGetsItsRecordAndShowsIt) {
    const uint32_t question = kMbYesNoCancel | kMbUserIcon;
    const std::vector<IconBoxRow> rows = {
        {question | kMbDefButton3 | kMbSetForeground, "i", IDNO, {IDCANCEL, IDYES, IDNO}, IDCANCEL, true},
        {question, "i", IDYES, {IDCANCEL, IDYES, IDNO}, IDYES, true},
        {MB_OK | kMbUserIcon, "j", IDOK, {IDOK}, IDOK, false},
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
                              row.iconName};
        static WhBox seen;
        int answer = ShowAndRead(row.press, &seen, [&] { return OsMessageBoxIndirect(&params); });
        SCOPED_TRACE("the box of style " + std::to_string(row.style));  // ASCII, for the XML report
        EXPECT_EQ(row.press, answer);
        EXPECT_EQ(40u, RecordedRecord.cbSize);
        EXPECT_EQ(OwnerWindow(), RecordedRecord.hwndOwner);
        EXPECT_EQ(row.style, RecordedRecord.dwStyle);
        EXPECT_EQ(Wide(row.iconName), RecordedIcon);
        EXPECT_EQ(1u, RecordedRecord.dwContextHelpId);
        EXPECT_EQ(0u, RecordedRecord.dwLanguageId);
        EXPECT_EQ(nullptr, RecordedRecord.lpfnMsgBoxCallback);
        EXPECT_EQ(Wide(caption), seen.caption);
        EXPECT_EQ(Wide(kBoxText), seen.text);
        EXPECT_EQ(OwnerWindow(), seen.owner);
        EXPECT_EQ(row.buttons, Buttons(seen));
        EXPECT_EQ(row.focused, seen.focused);
        EXPECT_EQ(row.hasIcon, seen.iconShown != nullptr) << "the icon named " << row.iconName;
    }
    // A box that is not shown answers no button, whatever Windows or Wine say.
    Inject = true;
    for (int failure : {0, -1}) {
        InjectedAnswer = failure;
        OsBoxParams params = {nullptr, OsGetModuleHandle(), "x", "x", MB_OK, "i"};
        EXPECT_EQ(0, OsMessageBoxIndirect(&params)) << failure;
    }
    Inject = false;
    Replace(&ImportedMessageBoxIndirectW, reinterpret_cast<void*>(RealBoxIndirect));
}

TEST(Boxes, ThePlainBoxShowsItsTextStyleAndOwnerAndAnswers) {
    const std::string caption = "Kompakto Fehler \xE4\xF6\xFC";
    static WhBox seen;
    int answer = ShowAndRead(IDOK, &seen, [&] {
        return OsMessageBox(reinterpret_cast<OsWindow>(OwnerWindow()), kBoxText.c_str(), caption.c_str(), kMbIconError);
    });
    EXPECT_EQ(IDOK, answer);
    EXPECT_EQ(Wide(caption), seen.caption);
    EXPECT_EQ(Wide(kBoxText), seen.text);
    EXPECT_EQ(OwnerWindow(), seen.owner);
    EXPECT_EQ(std::vector<int>({IDOK}), Buttons(seen));
    EXPECT_NE(nullptr, seen.iconShown) << "the error icon";
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
    // And the system's own, found by its name: the box shows the text and answers.
    OsModule user32 = OsLoadLibrary("user32.dll");
    OsProc timed = OsGetProcAddress(user32, "MessageBoxTimeoutW");
    ASSERT_NE(nullptr, timed);
    static WhBox seen;
    int answer = ShowAndRead(IDOK, &seen, [&] {
        return OsCallMessageBoxTimeout(timed, nullptr, kBoxText.c_str(), caption.c_str(), 0x10040, 0, 60000);
    });
    OsFreeLibrary(user32);
    EXPECT_EQ(IDOK, answer);
    EXPECT_EQ(Wide(caption), seen.caption);
    EXPECT_EQ(Wide(kBoxText), seen.text);
}

// --- DPI awareness ---------------------------------------------------------------

HANDLE RecordedContext;
BOOL DpiAnswer;
BOOL WINAPI RecordDpiContext(HANDLE context) {
    RecordedContext = context;
    return DpiAnswer;
}
BOOL WINAPI AnswerDpiAware() { return DpiAnswer; }

// Any BOOL but FALSE is Windows' yes.
TEST(Dpi, TheContextGoesThroughUnchangedAndARefusalIsARefusal) {
    for (BOOL answer : {TRUE, FALSE, 2}) {
        DpiAnswer = answer;
        for (intptr_t context : {kDpiAwarenessContextPerMonitorAwareV2, intptr_t{-2}, intptr_t{0x7FFF0001}}) {
            RecordedContext = nullptr;
            EXPECT_EQ(answer != FALSE,
                      OsCallSetProcessDpiAwarenessContext(reinterpret_cast<OsProc>(RecordDpiContext), context));
            EXPECT_EQ(reinterpret_cast<HANDLE>(context), RecordedContext);
        }
        EXPECT_EQ(answer != FALSE, OsCallSetProcessDpiAware(reinterpret_cast<OsProc>(AnswerDpiAware)));
    }
}

// --- The shell ---------------------------------------------------------------

// This program, opened as the page would be, reports to report how it was
// started; when the report does not come, Wine lost the start.
struct Opening {
    std::wstring report;
    intptr_t result;
    std::string seen;
};

DWORD OpenThisProgram(void* context) {
    Opening* opening = static_cast<Opening*>(context);
    DeleteFileW(opening->report.c_str());
    opening->result = OsOpenPage(Ascii(ProgramPath()).c_str());
    if (opening->result <= kShellExecuteLastError) {
        return ERROR_SUCCESS;  // the shell's own answer, for the case to see
    }
    opening->seen = AwaitFile(opening->report, 20000);
    return opening->seen.empty() ? ERROR_INTERNAL_ERROR : ERROR_SUCCESS;
}

// In a folder of its own, so that a folder handed to the shell shows.
TEST(Shell, AProgramOpensShownNormallyWithoutArgumentsInTheCurrentFolder) {
    CreateDirectoryW(kScratchFolder, nullptr);
    SetCurrentDirectoryW(kScratchFolder);
    Opening opening = {std::wstring(kScratchFolder) + L"\\report.txt", 0, ""};
    SetEnvironmentVariableW(kReportVariable, opening.report.c_str());
    int retried = 0;
    WhStartOnceMore(OpenThisProgram, &opening, &retried);
    NoteRetry(retried);
    SetEnvironmentVariableW(kReportVariable, nullptr);
    SetCurrentDirectoryW(FolderOf(ProgramPath()).c_str());
    EXPECT_GT(opening.result, kShellExecuteLastError);
    std::wstring expected = L"show 1\nfolder " + std::wstring(kScratchFolder) + L"\narguments 1";
    EXPECT_EQ(expected, std::wstring(reinterpret_cast<const wchar_t*>(opening.seen.data()),
                                     opening.seen.size() / sizeof(wchar_t)));
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
    EXPECT_EQ(expected, OsOpenPage(missing));
    FreeLibrary(shell32);
}

// --- This program as the child of a case --------------------------------------

int Report(const wchar_t* file, int argc) {
    STARTUPINFOW startup = {};
    GetStartupInfoW(&startup);
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
    std::wstring report =
        L"show " + std::to_wstring(show) + L"\nfolder " + folder + L"\narguments " + std::to_wstring(argc);
    return WhWriteWhole(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t))) ? 0 : 3;
}

int RunAsChild(int argc, wchar_t** argv) {
    std::wstring mode = argv[1];
    if (mode == L"--exit" && argc > 2) {
        OsExitProcess(static_cast<unsigned>(_wtoi(argv[2])));
    }
    if (mode == L"--command-line" && argc > 2) {
        const char* line = OsGetCommandLine();
        return WhWriteWhole(argv[2], line, static_cast<DWORD>(strlen(line))) ? 0 : 3;
    }
    if (mode == L"--load" && argc > 2) {
        return LoadLibraryW(argv[2]) ? 0 : 1;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t report[MAX_PATH];
    if (GetEnvironmentVariableW(kReportVariable, report, MAX_PATH)) {
        return Report(report, argc);
    }
    if (argc > 1 && wcsncmp(argv[1], L"--gtest", 7) != 0) {
        return RunAsChild(argc, argv);
    }
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    return result;
}
