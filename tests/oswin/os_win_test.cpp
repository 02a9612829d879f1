// The Windows operations of src/platform/win, each tried on its own under
// Wine against real keys, files, windows and processes. What an operation
// hands back is held to the rows of tests/contract.cpp, whose states are set
// up here; the cases below are about the Windows side alone: what an
// operation hands to Windows, and that a text reaches Windows, and comes back
// from it, letter for letter.
// Started again as a child, it does one thing:
//   --command-line FILE   writes the text OsGetCommandLine gives to FILE
//   --exit N              ends through OsExitProcess(N)
//   --load NAME           loads the DLL NAME by its bare name; 0 when it did
// With KOMPAKTO_LAYER_REPORT set to a FILE, whatever its arguments, it writes
// its show state, folder and number of arguments to FILE.
#include <windows.h>
// After windows.h, which it builds on.
#include <winternl.h>

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../contract.h"
#include "../winhelp.h"
#include "platform/platform.h"

namespace {

// Characters that Windows-1252 lacks whose best-fit forms decide what a command
// line or a path means: a fullwidth s, a long s, a fullwidth S, a fullwidth
// quote, two spaces, a fullwidth backslash and a fullwidth colon.
const wchar_t kLookAlikes[] = {0xFF53, 0x017F, 0xFF33, 0xFF02, 0x3000, 0x2002, 0xFF3C, 0xFF1A};

const wchar_t kReportVariable[] = L"KOMPAKTO_LAYER_REPORT";

// text as Windows-1252 means it, whatever the system's code page is.
std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    MultiByteToWideChar(1252, 0, text.data(), text.size(), &wide[0], wide.size());
    return wide;
}

// Only for texts that are ASCII, such as the paths this program makes.
std::string Ascii(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

void MakeKey(const std::string& path, DWORD options = REG_OPTION_NON_VOLATILE) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr))
        << path;
    RegCloseKey(key);
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, KEY_QUERY_VALUE, &key);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

DWORD GrantedAccess(OsKey key) {
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};  // none granted, when the query fails
    NtQueryObject(reinterpret_cast<HANDLE>(key), ObjectBasicInformation, &info, sizeof(info), nullptr);
    return info.GrantedAccess;
}

// The file of module; without one, this program's.
std::wstring ModulePath(HMODULE module = nullptr) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

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

// Starts this program with the arguments after its name; its exit code, -1
// when it could not be started, STILL_ACTIVE when it did not end in time.
long RunChild(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + ModulePath() + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    int retried = 0;
    DWORD error = WhStartProcess(ModulePath().c_str(), commandLine.c_str(), nullptr, nullptr, &process, &retried);
    NoteRetry(retried);
    if (error) {
        return -1;
    }
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process.hProcess, 30000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

// The operations call user32 through this program's import table: what they
// hand over, which Wine's boxes do not show (the style's MB_SETFOREGROUND, the
// language, the help id), is read there by a recorder that a case puts in the
// slot for its own time.

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
int InjectedAnswer = 1;  // from 0 down, the answer of a box that could not be shown, given instead of a box

int WINAPI RecordBoxIndirect(const MSGBOXPARAMSW* record) {
    RecordedRecord = *record;
    RecordedIcon = record->lpszIcon ? record->lpszIcon : L"(none)";
    return InjectedAnswer <= 0 ? InjectedAnswer : RealBoxIndirect(record);
}

UINT RecordedBeep;
BOOL WINAPI RecordBeep(UINT type) {
    RecordedBeep = type;
    return TRUE;
}

struct TimeoutCall {
    HWND owner;
    std::wstring text, caption;
    UINT style;
    WORD language;
    DWORD milliseconds;
};
TimeoutCall RecordedTimeout;

int WINAPI RecordTimeoutBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, WORD language, DWORD ms) {
    RecordedTimeout = {owner, text, caption, style, language, ms};
    return IDOK;
}

// What a box shows of its text: a message box keeps its text as given.
const std::string kBoxText = AllBytes() + "\rzweite Zeile";

// Waits on another thread for the box that show puts up on this one, reads
// it, and presses button; expects button as show's answer and the box to show
// caption and kBoxText, owned by owner, with buttons. Any box of this thread
// is taken, so that a box with another caption than asked for is seen, not
// left waiting. Returns what was read of the box.
template <typename Show>
const WhBox& ExpectBox(Show show, int button, const std::string& caption, HWND owner, const std::vector<int>& buttons) {
    static WhBox seen;
    DWORD thread = GetCurrentThreadId();
    seen.caption[0] = 0;
    std::thread watcher([thread, button] {
        HWND box = nullptr;
        for (int i = 0; i < 400 && !box; i++) {
            Sleep(25);
            box = WhFindBox(0, thread);
        }
        if (box) {
            WhReadBox(box, &seen);
            PostMessageW(box, WM_COMMAND, button, 0);
        }
    });
    EXPECT_EQ(button, show());
    watcher.join();
    EXPECT_EQ(Wide(caption), seen.caption);
    EXPECT_EQ(Wide(kBoxText), seen.text);
    EXPECT_EQ(owner, seen.owner);
    EXPECT_EQ(buttons, std::vector<int>(seen.buttons, seen.buttons + seen.buttonCount));
    return seen;
}

HWND OwnerWindow() {
    static HWND owner = CreateWindowExW(0, L"Static", L"Kompakto layer test owner", WS_OVERLAPPED, 0, 0, 10, 10,
                                        nullptr, nullptr, nullptr, nullptr);
    return owner;
}

REGSAM ViewFlag(int which) { return kMachineViews[which] == kRegistryView64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

void SetAccess(const char* name, const wchar_t* sddl) {
    EXPECT_EQ(ERROR_SUCCESS, WhSetKeyAccess(HKEY_CURRENT_USER, Wide(Scratch(name)).c_str(), sddl)) << name;
}

// Answers the next box of this thread, if one comes, from another thread.
std::thread BoxAnswerer;
std::atomic<bool> StopAnswering;

void StopAnsweringBoxes() {
    StopAnswering = true;
    if (BoxAnswerer.joinable()) {
        BoxAnswerer.join();
    }
}

HWINSTA OwnStation;
HWINSTA UnseenStation;
void* RealObjectInformation;

BOOL WINAPI FailObjectInformation(HANDLE, int, void*, DWORD, DWORD*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

const std::wstring kOpenedReport = Wide(kScratchFolder) + L"\\opened.txt";

}  // namespace

extern "C" void* ImportedGetUserObjectInformationW __asm__("__imp__GetUserObjectInformationW@20");

// The states of the contract's rows (tests/contract.h), set up in Windows.
void ContractSetUp() {
    RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    for (const char* name : {"plain\\a\\inner", "plain\\b", "leaf", "locked\\open"}) {
        MakeKey(Scratch(name));
    }
    MakeKey(Scratch("volatile"), REG_OPTION_VOLATILE);
    DWORD one = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, Wide(Scratch("plain")).c_str(), L"v", REG_DWORD, &one, sizeof(one));
    // Everything but writing values, making sub keys and deleting, for
    // everyone; locked\open keeps an access list of its own that allows it.
    SetAccess("locked", L"D:(D;;0x10006;;;WD)(A;;KA;;;WD)");
    // Two texts stored without their terminating zero, one of them ending in
    // half a letter (the low byte of X).
    const std::wstring plain = Wide(Scratch("plain")), all = Wide(AllBytes());
    const std::wstring expand = L"<%" + Wide(kExpandVariable) + L"%>";
    RegSetKeyValueW(HKEY_CURRENT_USER, plain.c_str(), L"all", REG_SZ, all.c_str(), (all.size() + 1) * 2);
    RegSetKeyValueW(HKEY_CURRENT_USER, plain.c_str(), L"expand", REG_EXPAND_SZ, expand.c_str(),
                    (expand.size() + 1) * 2);
    RegSetKeyValueW(HKEY_CURRENT_USER, plain.c_str(), L"bare", REG_SZ, L"abcX", 6);
    RegSetKeyValueW(HKEY_CURRENT_USER, plain.c_str(), L"odd", REG_SZ, L"abcX", 7);
    SetEnvironmentVariableW(Wide(kExpandVariable).c_str(), Wide(AllBytes("%")).c_str());
    for (int i = 0; i < 2; i++) {
        HKEY key = nullptr;
        const std::wstring path = Wide(kMachineKeys[i]);
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | ViewFlag(i), nullptr, &key, nullptr));
        RegSetValueExW(key, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()), (path.size() + 1) * 2);
        RegCloseKey(key);
    }
    for (const std::string& file : EveryLetterFiles()) {
        CloseHandle(CreateFileW(Wide(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
}

void ContractTearDown() {
    StopAnsweringBoxes();
    if (KeyExists(Scratch("locked"))) {  // Wine deletes it all the same
        SetAccess("locked", L"D:(A;;KA;;;WD)");
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    for (int i = 0; i < 2; i++) {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Wide(kMachineKeys[i]).c_str(), ViewFlag(i), 0);
    }
    for (const std::string& file : EveryLetterFiles()) {
        DeleteFileW(Wide(file).c_str());
    }
    SetEnvironmentVariableW(Wide(kLacksVariable).c_str(), nullptr);
}

bool ContractStoreLetterWindows1252Lacks(int index) {
    const std::wstring letters = std::wstring(std::begin(kLookAlikes), std::end(kLookAlikes)) + L'\x0100';
    if (index >= static_cast<int>(letters.size())) {
        return false;
    }
    const wchar_t text[] = {L'x', letters[index], L'y', L'\0'};
    RegSetKeyValueW(HKEY_CURRENT_USER, Wide(Scratch("plain")).c_str(), L"lacks", REG_SZ, text, sizeof(text));
    const std::wstring folder = L"C:\\Program Files" + std::wstring(1, letters[index]) + L"x\\";
    SetEnvironmentVariableW(Wide(kLacksVariable).c_str(), folder.c_str());
    return true;
}

bool ContractKeyExists(const std::string& path) { return KeyExists(path); }

bool ContractValueExists(const std::string& path, const char* name) {
    return RegGetValueW(HKEY_CURRENT_USER, Wide(path).c_str(), Wide(name).c_str(), RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

uint32_t ContractGrantedAccess(OsKey key) { return GrantedAccess(key) & ~KEY_WOW64_RES; }

bool ContractHasTwoViews() {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

bool ContractIsWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// A window station made as a service's is, which nobody sees.
void ContractUseUnseenWindowStation(bool unseen) {
    if (unseen) {
        OwnStation = GetProcessWindowStation();
        UnseenStation = CreateWindowStationW(L"KompaktoLayerTest", 0, WINSTA_ALL_ACCESS, nullptr);
        EXPECT_NE(nullptr, UnseenStation);
        EXPECT_TRUE(SetProcessWindowStation(UnseenStation));
    } else {
        SetProcessWindowStation(OwnStation);
        CloseWindowStation(UnseenStation);
    }
}

// The program's import of GetUserObjectInformationW answers that Windows
// cannot tell.
void ContractSilenceWindowStation(bool silent) {
    if (silent) {
        RealObjectInformation =
            Replace(&ImportedGetUserObjectInformationW, reinterpret_cast<void*>(FailObjectInformation));
    } else {
        Replace(&ImportedGetUserObjectInformationW, RealObjectInformation);
    }
}

void ContractAnswerNextBox(int button) {
    DWORD thread = GetCurrentThreadId();
    StopAnsweringBoxes();
    StopAnswering = false;
    BoxAnswerer = std::thread([thread, button] {
        HWND box = nullptr;
        for (int i = 0; i < 400 && !box && !StopAnswering; i++) {
            Sleep(25);
            box = WhFindBox(0, thread);
        }
        if (box) {
            PostMessageW(box, WM_COMMAND, button, 0);
        }
    });
}

// This program, which only reports how it was started when
// KOMPAKTO_LAYER_REPORT names a file, and ends.
std::string ContractProgramToOpen() {
    DeleteFileW(kOpenedReport.c_str());
    SetEnvironmentVariableW(kReportVariable, kOpenedReport.c_str());
    return Ascii(ModulePath());
}

// Waits for the report, so that the program has ended before the next case.
void ContractProgramOpened() {
    SetEnvironmentVariableW(kReportVariable, nullptr);
    AwaitFile(kOpenedReport, 20000);
    DeleteFileW(kOpenedReport.c_str());
}

namespace {

// The Windows layer's own registry cases, on the contract's states.
using Registry = Contract;

TEST_F(Registry, KeysAreOpenedWithExactlyTheAccessAskedFor) {
    for (uint32_t access : {uint32_t{KEY_QUERY_VALUE}, uint32_t{KEY_SET_VALUE}, uint32_t{KEY_QUERY_VALUE | DELETE}}) {
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
    MakeKey(Scratch("made\\lasting"));
}

TEST_F(Registry, ValuesAreStoredWithTheTypeAskedForAndTheirTerminatingZero) {
    const std::string name = AllBytes();  // a value's name may hold any letter
    const std::string text = AllBytes();
    HKEY key = reinterpret_cast<HKEY>(Open("plain", KEY_SET_VALUE | KEY_QUERY_VALUE));
    for (uint32_t type : {uint32_t{REG_SZ}, uint32_t{REG_EXPAND_SZ}}) {
        ASSERT_EQ(ERROR_SUCCESS,
                  OsRegSetValueEx(reinterpret_cast<OsKey>(key), name.c_str(), type, text.c_str(), text.size() + 1));
        DWORD storedType = 0;
        std::wstring stored(1024, L'\0');
        DWORD size = stored.size() * sizeof(wchar_t);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, Wide(name).c_str(), nullptr, &storedType,
                                                  reinterpret_cast<BYTE*>(&stored[0]), &size));
        EXPECT_EQ(type, storedType);
        stored.resize(size / sizeof(wchar_t));
        EXPECT_EQ(Wide(text) + L'\0', stored) << "the value holds its zero";
    }
    RegCloseKey(key);
}

TEST_F(Registry, KeyNamesKeepEveryLetter) {
    const std::string name = AllBytes("\\");  // a key's name is anything but the separator
    ASSERT_EQ(ERROR_SUCCESS, Create(name.c_str()));
    EXPECT_TRUE(KeyExists(Scratch(name.c_str())));
    EXPECT_EQ(ERROR_SUCCESS, OpenAs(name.c_str(), KEY_QUERY_VALUE));
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyOf(name.c_str()));
}

extern "C" void* ImportedGetFileAttributesW __asm__("__imp__GetFileAttributesW@4");
typedef DWORD(WINAPI* AttributesProc)(LPCWSTR);
AttributesProc RealAttributes;
UINT ModeDuringCall;
DWORD WINAPI RecordMode(LPCWSTR path) {
    ModeDuringCall = GetErrorMode();
    return RealAttributes(path);
}

// Windows' box asking for a disk is off for the call alone; the process's
// other flags stay as they are.
TEST(Files, AttributesAreReadWithoutCriticalErrorBoxesAndTheModeIsKept) {
    const UINT before = GetErrorMode();
    RealAttributes =
        reinterpret_cast<AttributesProc>(Replace(&ImportedGetFileAttributesW, reinterpret_cast<void*>(RecordMode)));
    for (UINT mode : {0u, UINT{SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX}, UINT{SEM_FAILCRITICALERRORS}}) {
        SetErrorMode(mode);
        ModeDuringCall = 0xFFFF;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, OsGetFileAttributes("C:\\"));
        EXPECT_EQ(mode | SEM_FAILCRITICALERRORS, ModeDuringCall) << mode;
        EXPECT_EQ(mode, GetErrorMode()) << mode;
    }
    Replace(&ImportedGetFileAttributesW, reinterpret_cast<void*>(RealAttributes));
    SetErrorMode(before);
}

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

// The command line of a child that is given argument.
std::string CommandLineOf(const std::wstring& argument) {
    DeleteFileW(L"command-line.txt");
    EXPECT_EQ(0, RunChild(L"--command-line command-line.txt " + argument));
    return AwaitFile(L"command-line.txt", 0);
}

// Every letter of Windows-1252 as it is; one it lacks as "?", never as its
// look-alike.
TEST(Process, TheCommandLineKeepsEveryLetterAndNeverTakesALookAlike) {
    const std::string before = "\"" + Ascii(ModulePath()) + "\" --command-line command-line.txt ";
    EXPECT_EQ(before + AllBytes(), CommandLineOf(Wide(AllBytes())));
    for (wchar_t c : kLookAlikes) {
        EXPECT_EQ(before + "/x?y", CommandLineOf(std::wstring(L"/x") + c + L"y")) << std::hex << static_cast<int>(c);
    }
}

// The probe, the DLL beside this program, is copied to the current folder
// under a name of its own. A bare name would find each copy; the operation
// finds neither, only a copy of that name in the system folder.
TEST(Libraries, ALibraryLoadsFromTheSystemFolderOnly) {
    WIN32_FIND_DATAW beside;  // whatever the run named it
    HANDLE search = FindFirstFileW((FolderOf(ModulePath()) + L"\\*.dll").c_str(), &beside);
    ASSERT_NE(INVALID_HANDLE_VALUE, search) << "no DLL beside this program";
    FindClose(search);
    const std::wstring probeName = beside.cFileName;
    const std::wstring probe = FolderOf(ModulePath()) + L"\\" + probeName;
    const std::wstring currentName = L"current-" + probeName;
    ASSERT_TRUE(CopyFileW(probe.c_str(), (Wide(kScratchFolder) + L"\\" + currentName).c_str(), FALSE));
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    for (const std::wstring& name : {probeName, currentName}) {
        const std::wstring inSystem = system + (L"\\" + name);
        EXPECT_EQ(nullptr, OsLoadLibrary(Ascii(name).c_str())) << "only planted copies: nothing loads";
        ASSERT_TRUE(CopyFileW(probe.c_str(), inSystem.c_str(), FALSE));
        OsModule module = OsLoadLibrary(Ascii(name).c_str());
        const std::wstring loaded = ModulePath(reinterpret_cast<HMODULE>(module));
        EXPECT_EQ(0, lstrcmpiW(inSystem.c_str(), loaded.c_str())) << Ascii(loaded);
        OsFreeLibrary(module);
        EXPECT_EQ(nullptr, GetModuleHandleW(name.c_str())) << "freed";
        DeleteFileW(inSystem.c_str());
    }
}

TEST(Boxes, TheBeepIsTheOneAskedFor) {
    void* real = Replace(&ImportedMessageBeep, reinterpret_cast<void*>(RecordBeep));
    for (uint32_t type : {uint32_t{MB_ICONASTERISK}, uint32_t{MB_ICONERROR}, 0xFFFFFFFFu}) {
        RecordedBeep = 0;
        OsMessageBeep(type);
        EXPECT_EQ(type, RecordedBeep);
    }
    Replace(&ImportedMessageBeep, real);
}

// The icon "i" is the program's own: it shows only when the box is given
// this program's module.
TEST(Boxes, TheIconBoxGetsItsRecordAndShowsIt) {
    struct Row {
        uint32_t style;
        int press;
        int focused;
    };
    const uint32_t question = MB_YESNOCANCEL | MB_USERICON;
    const OsWindow owner = reinterpret_cast<OsWindow>(OwnerWindow());
    RealBoxIndirect = reinterpret_cast<BoxIndirectProc>(
        Replace(&ImportedMessageBoxIndirectW, reinterpret_cast<void*>(RecordBoxIndirect)));
    for (const Row& row :
         {Row{question | MB_DEFBUTTON3 | MB_SETFOREGROUND, IDNO, IDCANCEL}, Row{question, IDYES, IDYES}}) {
        const std::string caption = "Kompakto Test \xC4\xD6\xDC " + std::to_string(row.style);
        OsBoxParams params = {owner, OsGetModuleHandle(), kBoxText.c_str(), caption.c_str(), row.style, "i"};
        SCOPED_TRACE("the box of style " + std::to_string(row.style));  // ASCII, for the XML report
        const WhBox& seen = ExpectBox([&] { return OsMessageBoxIndirect(&params); }, row.press, caption, OwnerWindow(),
                                      {IDCANCEL, IDYES, IDNO});
        EXPECT_EQ(40u, RecordedRecord.cbSize);
        EXPECT_EQ(OwnerWindow(), RecordedRecord.hwndOwner);
        EXPECT_EQ(row.style, RecordedRecord.dwStyle);
        EXPECT_EQ(L"i", RecordedIcon);
        EXPECT_EQ(1u, RecordedRecord.dwContextHelpId);
        EXPECT_EQ(0u, RecordedRecord.dwLanguageId);
        EXPECT_EQ(nullptr, RecordedRecord.lpfnMsgBoxCallback);
        EXPECT_EQ(row.focused, seen.focused);
        EXPECT_NE(nullptr, seen.iconShown) << "the icon i";
    }
    // A box that is not shown answers no button, whatever Windows or Wine say.
    for (int failure : {0, -1}) {
        InjectedAnswer = failure;
        OsBoxParams params = {nullptr, OsGetModuleHandle(), "x", "x", MB_OK, "i"};
        EXPECT_EQ(0, OsMessageBoxIndirect(&params)) << failure;
    }
    InjectedAnswer = 1;
    Replace(&ImportedMessageBoxIndirectW, reinterpret_cast<void*>(RealBoxIndirect));
}

TEST(Boxes, ThePlainBoxShowsItsTextStyleAndOwnerAndAnswers) {
    const std::string caption = "Kompakto Fehler \xE4\xF6\xFC";
    const OsWindow owner = reinterpret_cast<OsWindow>(OwnerWindow());
    const WhBox& seen = ExpectBox([&] { return OsMessageBox(owner, kBoxText.c_str(), caption.c_str(), MB_ICONERROR); },
                                  IDOK, caption, OwnerWindow(), {IDOK});
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
    auto show = [&] {
        return OsCallMessageBoxTimeout(timed, nullptr, kBoxText.c_str(), caption.c_str(), 0x10040, 0, 60000);
    };
    ExpectBox(show, IDOK, caption, nullptr, {IDOK});
    OsFreeLibrary(user32);
}

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
        for (intptr_t context :
             {win::kDpiAwarenessContextPerMonitorAwareV2, win::kDpiAwarenessContextSystemAware, intptr_t{0x7FFF0001}}) {
            RecordedContext = nullptr;
            EXPECT_EQ(answer != FALSE,
                      OsCallSetProcessDpiAwarenessContext(reinterpret_cast<OsProc>(RecordDpiContext), context));
            EXPECT_EQ(reinterpret_cast<HANDLE>(context), RecordedContext);
        }
        EXPECT_EQ(answer != FALSE, OsCallSetProcessDpiAware(reinterpret_cast<OsProc>(AnswerDpiAware)));
    }
}

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
    opening->result = OsOpenPage(Ascii(ModulePath()).c_str());
    if (opening->result <= win::kShellExecuteLastError) {
        return ERROR_SUCCESS;  // the shell's own answer, for the case to see
    }
    opening->seen = AwaitFile(opening->report, 20000);
    return opening->seen.empty() ? ERROR_INTERNAL_ERROR : ERROR_SUCCESS;
}

TEST(Shell, AProgramOpensShownNormallyWithoutArgumentsInTheCurrentFolder) {
    Opening opening = {Wide(kScratchFolder) + L"\\report.txt", 0, ""};
    SetEnvironmentVariableW(kReportVariable, opening.report.c_str());
    int retried = 0;
    WhStartOnceMore(OpenThisProgram, &opening, &retried);
    NoteRetry(retried);
    SetEnvironmentVariableW(kReportVariable, nullptr);
    EXPECT_GT(opening.result, win::kShellExecuteLastError);
    EXPECT_EQ("show 1\nfolder " + std::string(kScratchFolder) + "\narguments 1", opening.seen);
}

int Report(const wchar_t* file, int argc) {
    STARTUPINFOW startup = {};
    GetStartupInfoW(&startup);
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    int show = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1;
    std::string report =
        "show " + std::to_string(show) + "\nfolder " + Ascii(folder) + "\narguments " + std::to_string(argc);
    return WhWriteWhole(file, report.data(), static_cast<DWORD>(report.size())) ? 0 : 3;
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
    // The cases work in a folder of their own, the current one, so that a
    // folder handed to the shell shows.
    CreateDirectoryW(Wide(kScratchFolder).c_str(), nullptr);
    SetCurrentDirectoryW(Wide(kScratchFolder).c_str());
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    RegDeleteTreeW(HKEY_CURRENT_USER, Wide(kScratchKey).c_str());
    return result;
}
