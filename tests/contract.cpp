#include "contract.h"

#include <string.h>

std::string AllBytes(const char* without, int first) {
    std::string text;
    for (int c = first; c < 256; c++) {
        if (!strchr(without, c)) {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string Scratch(const char* name) { return std::string(kScratchKey) + "\\" + name; }

// A name holds every letter but the controls and <>:"/\|?*; in slices, as
// the Unix side of Wine keeps a name to 255 bytes of UTF-8.
std::vector<std::string> EveryLetterFiles() {
    const std::string letters = AllBytes("<>:\"/\\|?*", ' ');
    std::vector<std::string> files;
    for (size_t start = 0; start < letters.size(); start += 40) {
        files.push_back(std::string(kScratchFolder) + "\\f" + letters.substr(start, 40));
    }
    return files;
}

OsKey Open(const char* name, uint32_t access) {
    OsKey key = nullptr;
    OsRegOpenKeyEx(OsCurrentUserKey(), Scratch(name).c_str(), access, &key);
    return key;
}

long OpenAs(const char* name, uint32_t access) {
    OsKey key = nullptr;
    long result = OsRegOpenKeyEx(OsCurrentUserKey(), Scratch(name).c_str(), access, &key);
    OsRegCloseKey(key);
    return result;
}

long Create(const char* name) {
    OsKey key = nullptr;
    long result = OsRegCreateKey(OsCurrentUserKey(), Scratch(name).c_str(), &key);
    OsRegCloseKey(key);
    return result;
}

static long Gone(const char* name, long result) {
    return result == win::kErrorSuccess && ContractKeyExists(Scratch(name)) ? -1 : result;
}

long DeleteKeyOf(const char* name) { return Gone(name, OsRegDeleteKey(OsCurrentUserKey(), Scratch(name).c_str())); }

namespace {

template <typename Operation>
long WithKey(const char* name, uint32_t access, Operation operation) {
    OsKey key = Open(name, access);
    long result = operation(key);
    OsRegCloseKey(key);
    return result;
}

long SubKeysOf(const char* name, uint32_t expectedCount, uint32_t access = win::kKeyQueryValue) {
    return WithKey(name, access, [expectedCount](OsKey key) {
        uint32_t count = 12345;
        long result = OsRegQueryInfoKey(key, &count);
        return result == win::kErrorSuccess && count != expectedCount ? -1 : result;
    });
}

long SetValueOf(const char* name, uint32_t access) {
    return WithKey(name, access, [](OsKey key) { return OsRegSetValueEx(key, "neu", win::kRegSz, "x", 2); });
}

long QueryValueOf(const char* name, const char* value) {
    return WithKey(name, win::kKeyQueryValue, [value](OsKey key) { return OsRegQueryValueEx(key, value); });
}

// -1 when it answered success but left the value.
long DeleteValueOf(const char* name, const char* value) {
    long result = WithKey(name, win::kKeySetValue, [value](OsKey key) { return OsRegDeleteValue(key, value); });
    return result == win::kErrorSuccess && ContractValueExists(Scratch(name), value) ? -1 : result;
}

long DeleteTreeOf(const char* name) { return Gone(name, OsRegDeleteTree(OsCurrentUserKey(), Scratch(name).c_str())); }

// Reads value of "plain", opened with access, into size bytes; -1 when it
// reads another text than expected, fails and leaves a text, or writes past.
long ReadText(const char* value, uint32_t size, const std::string& expected = "",
              uint32_t access = win::kKeyQueryValue) {
    return WithKey("plain", access, [&](OsKey key) {
        std::string text(size + 1, '#');
        long result = OsRegQueryString(key, value, &text[0], size);
        bool right = result == win::kErrorSuccess ? text.c_str() == expected : text[0] == '\0';
        return right && text[size] == '#' ? result : -1;
    });
}

// The first other result than that for a letter Windows-1252 lacks.
long ReadLettersWindows1252Lacks() {
    for (int index = 0; ContractStoreLetterWindows1252Lacks(index); index++) {
        long result = ReadText("lacks", 16);
        if (result != win::kErrorNoUnicodeTranslation) {
            return result;
        }
    }
    return win::kErrorNoUnicodeTranslation;
}

// Opens a key of kMachineKeys in view and reads its name from it; -1 when it
// opens with other rights or reads another name.
long MachineKeyIn(OsRegistryView view, int which) {
    OsKey key = nullptr;
    long result = OsRegOpenMachineKey(view, kMachineKeys[which], &key);
    char name[64] = "";
    if (result == win::kErrorSuccess && (ContractGrantedAccess(key) != win::kKeyQueryValue ||
                                         OsRegQueryString(key, "v", name, 64) || strcmp(name, kMachineKeys[which]))) {
        result = -1;
    }
    OsRegCloseKey(key);
    return result;
}

// The rows' answers where an operation gives no error code: a handle,
// procedure, yes or box seen (kSome) or none (kNone), the kind of a path,
// and any result of ShellExecute above its last error.
constexpr long kNone = 0;
constexpr long kSome = 1;
enum PathKind : long { kNothing = 10, kAFile, kAFolder };
constexpr long kOpened = win::kShellExecuteLastError + 1;

long SomeOrNone(const void* handle) { return handle ? kSome : kNone; }

long KindOf(const std::string& path) {
    uint32_t attributes = OsGetFileAttributes(path.c_str());
    return attributes == win::kInvalidFileAttributes     ? kNothing
           : (attributes & win::kFileAttributeDirectory) ? kAFolder
                                                         : kAFile;
}

// The kind that every file of the state "every letter" has; the first
// other kind when one has another.
long KindOfEveryLetterFile() {
    for (const std::string& file : EveryLetterFiles()) {
        if (KindOf(file) != kAFile) return KindOf(file);
    }
    return kAFile;
}

// Expands source into size characters; -1 when it writes another text than
// expected, or writes at all where it did not fit or past size.
long Expanded(const char* source, uint32_t size, const std::string& expected) {
    std::string text(size + 1, '#');
    long needed = OsExpandEnvironmentStrings(source, &text[0], size);
    bool fits = needed >= 1 && needed <= static_cast<long>(size);
    bool right = fits ? text.c_str() == expected : text[0] == '#';
    return right && text[size] == '#' ? needed : -1;
}

// The first other result than none for a folder with a letter Windows-1252
// lacks.
long ExpandLettersWindows1252Lacks() {
    for (int index = 0; ContractStoreLetterWindows1252Lacks(index); index++) {
        char expanded[513] = "untouched";
        long needed = OsExpandEnvironmentStrings((std::string("%") + kLacksVariable + "%").c_str(), expanded, 512);
        if (needed != 0) return needed;
    }
    return 0;
}

long LoadAndFree(const char* name) {
    OsModule module = OsLoadLibrary(name);
    OsFreeLibrary(module);
    return SomeOrNone(module);
}

// Each procedure of user32 asked for, kNone when one is not there.
long ProceduresOfUser32(std::initializer_list<const char*> names) {
    OsModule user32 = OsLoadLibrary("user32.dll");
    long found = SomeOrNone(user32);
    for (const char* name : names) {
        if (found == kSome) found = SomeOrNone(reinterpret_cast<void*>(OsGetProcAddress(user32, name)));
    }
    OsFreeLibrary(user32);
    return found;
}

// Whether boxes can be seen in the state that enter(true) enters and
// enter(false) leaves.
long SeenWith(void (*enter)(bool)) {
    enter(true);
    bool seen = OsBoxesCanBeSeen();
    enter(false);
    return seen ? kSome : kNone;
}

long Opening(const std::string& address) {
    intptr_t result = OsOpenPage(address.c_str());
    return result > win::kShellExecuteLastError ? kOpened : static_cast<long>(result);
}

long OpeningAProgramThatEnds() {
    long result = Opening(ContractProgramToOpen());
    ContractProgramOpened();
    return result;
}

// A box owned by a handle that is no window, the user ready to press OK.
long BoxOwnedByNoWindow() {
    ContractAnswerNextBox(win::kIdOk);
    OsBoxParams params = {
        reinterpret_cast<OsWindow>(intptr_t{0x1234}), OsGetModuleHandle(), "Kompakto", "Kompakto", 0, nullptr};
    return OsMessageBoxIndirect(&params);
}

long DeclaringDpiAwareness(intptr_t context) {
    OsModule user32 = OsLoadLibrary("user32.dll");
    OsProc declare = OsGetProcAddress(user32, "SetProcessDpiAwarenessContext");
    bool done = declare && OsCallSetProcessDpiAwarenessContext(declare, context);
    OsFreeLibrary(user32);
    return done ? kSome : kNone;
}

// The answer for a key of the other view: with two views each holds its own
// keys alone; with one, both see them.
constexpr long kAsTheViewsAre = -2;

// Each operation once where Windows does it and once where it refuses, with
// the refusals the program meets: the answer Windows gives must come back.
// Where Wine answers otherwise than Microsoft's documentation says Windows
// does, the row has both, and the page: the fake is held to the documented
// answer, Wine to its own. Where the documentation does not say, the answer
// is Wine's, measured, and a comment says so.
struct ContractRow {
    const char* group;  // the rows' group: Registry, Environment, ...
    const char* name;   // Operation_State
    long (*call)();
    long expected;
    long wine;
    const char* page;  // under https://learn.microsoft.com/windows/win32/
};

// The operations without rows, and why:
//   OsCurrentUserKey      a constant, as Windows' HKEY_CURRENT_USER is
//   OsGetCommandLine      passes through: the program cuts the text itself
//   OsExitProcess         passes through, and does not come back
//   OsGetModuleHandle, OsGetDesktopWindow
//                         pass through to the boxes, which are asked for
//                         the program's icon and owned by the desktop
//   OsMessageBeep, OsFreeLibrary
//                         give no answer
//   OsMessageBox, OsCallMessageBoxTimeout
//                         their answers are not looked at: they tell, they
//                         do not ask
//   OsCallSetProcessDpiAware
//                         its answer is not looked at: it is the last way
//                         to declare the awareness
// clang-format off
const ContractRow kContract[] = {
    {"Registry", "OpenMachine_A64BitKeyIn64BitView", [] { return MachineKeyIn(kRegistryView64, 0); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "OpenMachine_A32BitKeyIn32BitView", [] { return MachineKeyIn(kRegistryView32, 1); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "OpenMachine_A64BitKeyIn32BitView", [] { return MachineKeyIn(kRegistryView32, 0); },
     kAsTheViewsAre, 0, nullptr},
    {"Registry", "OpenMachine_A32BitKeyIn64BitView", [] { return MachineKeyIn(kRegistryView64, 1); },
     kAsTheViewsAre, 0, nullptr},
    {"Registry", "Open_AKeyThatIsThere", [] { return OpenAs("plain", win::kKeyQueryValue); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "Open_AKeyThatIsNotThere", [] { return OpenAs("missing", win::kKeyQueryValue); },
     win::kErrorFileNotFound, 0, nullptr},
    {"Registry", "Open_ToWriteValuesWhereTheAccessListDeniesIt", [] { return OpenAs("locked", win::kKeySetValue); },
     win::kErrorAccessDenied, 0, nullptr},
    {"Registry", "Open_ToDeleteWhereTheAccessListDeniesIt",
     [] { return OpenAs("locked", win::kKeyQueryValue | win::kDelete); },
     win::kErrorAccessDenied, 0, nullptr},
    // The lock rule. The keys on the way to a key are passed without a
    // check (the right "Bypass traverse checking", which everyone has by
    // default: https://learn.microsoft.com/windows/security/threat-protection/
    // security-policy-settings/bypass-traverse-checking): a key is opened by
    // its own access list alone ...
    {"Registry", "Open_ToWriteValuesOfAnOpenKeyBelowALockedOne",
     [] { return OpenAs("locked\\open", win::kKeySetValue); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "Create_AKeyWithMissingParents", [] { return Create("new\\deeper"); }, win::kErrorSuccess, 0, nullptr},
    {"Registry", "Create_ALastingKeyBelowAVolatileOne", [] { return Create("volatile\\child"); },
     win::kErrorChildMustBeVolatile, 0, nullptr},
    {"Registry", "Create_AKeyWhoseAccessListDeniesWriting", [] { return Create("locked"); },
     win::kErrorAccessDenied, 0, nullptr},
    // ... and created by that of the key it is made in: "The calling process
    // must have KEY_CREATE_SUB_KEY access to the key" (RegCreateKeyEx), the
    // right "required to create a subkey of a registry key"
    // (sysinfo/registry-key-security-and-access-rights). Wine 8 does not
    // check it, and makes the key (measured).
    {"Registry", "Create_RightBelowALockedKey", [] { return Create("locked\\new"); },
     win::kErrorAccessDenied, win::kErrorSuccess, "api/winreg/nf-winreg-regcreatekeyexw"},
    // The open key, reached through the locked one, grants it.
    {"Registry", "Create_BelowAnOpenKeyBelowALockedOne", [] { return Create("locked\\open\\new"); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "QueryInfo_TwoSubKeysAndAValue", [] { return SubKeysOf("plain", 2); }, win::kErrorSuccess, 0, nullptr},
    {"Registry", "QueryInfo_NoKey", [] { return SubKeysOf("missing", 0); }, win::kErrorInvalidHandle, 0, nullptr},
    // "The key must have been opened with the KEY_QUERY_VALUE access right."
    {"Registry", "QueryInfo_OnAKeyOpenedOnlyToWrite", [] { return SubKeysOf("plain", 2, win::kKeySetValue); },
     win::kErrorAccessDenied, win::kErrorSuccess, "api/winreg/nf-winreg-regqueryinfokeyw"},
    {"Registry", "QueryValue_OneOfAnotherType", [] { return QueryValueOf("plain", "v"); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "QueryValue_OneThatIsNotThere", [] { return QueryValueOf("plain", "w"); },
     win::kErrorFileNotFound, 0, nullptr},
    {"Registry", "QueryString_EveryLetterFillingTheBuffer", [] { return ReadText("all", 256, AllBytes()); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "QueryString_OneLetterMoreThanFits", [] { return ReadText("all", 255); },
     win::kErrorMoreData, 0, nullptr},
    {"Registry", "QueryString_ExpandedFillingTheBuffer",
     [] { return ReadText("expand", 257, "<" + AllBytes("%") + ">"); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "QueryString_ExpandedOneLetterMoreThanFits", [] { return ReadText("expand", 256); },
     win::kErrorMoreData, 0, nullptr},
    {"Registry", "QueryString_StoredWithoutItsZero", [] { return ReadText("bare", 4, "abc"); },
     win::kErrorSuccess, 0, nullptr},
    // Where a whole letter fits after the data, Wine puts a zero there itself; after half a letter it does not.
    {"Registry", "QueryString_StoredWithHalfALetterAndNoZero", [] { return ReadText("odd", 4, "abc"); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "QueryString_StoredWithoutItsZeroFillingTheBuffer", [] { return ReadText("bare", 3); },
     win::kErrorMoreData, 0, nullptr},
    {"Registry", "QueryString_OneOfAnotherType", [] { return ReadText("v", 16); },
     win::kErrorUnsupportedType, 0, nullptr},
    {"Registry", "QueryString_OneThatIsNotThere", [] { return ReadText("w", 16); },
     win::kErrorFileNotFound, 0, nullptr},
    {"Registry", "QueryString_OnAKeyOpenedOnlyToWrite", [] { return ReadText("all", 256, "", win::kKeySetValue); },
     win::kErrorAccessDenied, 0, nullptr},
    {"Registry", "QueryString_ALetterWindows1252Lacks", ReadLettersWindows1252Lacks,
     win::kErrorNoUnicodeTranslation, 0, nullptr},
    {"Registry", "SetValue_OnAKeyOpenedToWrite", [] { return SetValueOf("plain", win::kKeySetValue); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "SetValue_OnAKeyOpenedOnlyToQuery", [] { return SetValueOf("plain", win::kKeyQueryValue); },
     win::kErrorAccessDenied, 0, nullptr},
    {"Registry", "DeleteValue_OneThatIsThere", [] { return DeleteValueOf("plain", "v"); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "DeleteValue_OneThatIsNotThere", [] { return DeleteValueOf("plain", "w"); },
     win::kErrorFileNotFound, 0, nullptr},
    {"Registry", "DeleteKey_OneWithoutSubKeys", [] { return DeleteKeyOf("leaf"); }, win::kErrorSuccess, 0, nullptr},
    {"Registry", "DeleteKey_OneThatIsNotThere", [] { return DeleteKeyOf("missing"); },
     win::kErrorFileNotFound, 0, nullptr},
    {"Registry", "DeleteKey_OneWithSubKeys", [] { return DeleteKeyOf("plain"); }, win::kErrorAccessDenied, 0, nullptr},
    {"Registry", "DeleteTree_AKeyWithSubKeysAndValues", [] { return DeleteTreeOf("plain"); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "DeleteTree_OneThatIsNotThere", [] { return DeleteTreeOf("missing"); },
     win::kErrorFileNotFound, 0, nullptr},
    // The key must be opened with DELETE, which the locked one denies; Wine 8
    // deletes it all the same (measured).
    {"Registry", "DeleteTree_AKeyWhoseAccessListDeniesIt", [] { return DeleteTreeOf("locked"); },
     win::kErrorAccessDenied, win::kErrorSuccess, "api/winreg/nf-winreg-regdeletetreew"},
    {"Registry", "Close_AnOpenKey", [] { return OsRegCloseKey(Open("plain", win::kKeyQueryValue)); },
     win::kErrorSuccess, 0, nullptr},
    {"Registry", "Close_NoKey", [] { return OsRegCloseKey(reinterpret_cast<OsKey>(intptr_t{0x1234})); },
     win::kErrorInvalidHandle, 0, nullptr},

    // The size the text needs, its zero included, whether or not it fits; an unknown variable stays as it is.
    {"Environment", "Expand_EveryLetter",
     [] { return Expanded("<%KOMPAKTO_LAYER_TEXT%>", 512, "<" + AllBytes("%") + ">"); },
     257, 0, nullptr},
    {"Environment", "Expand_OneLetterMoreThanFits", [] { return Expanded("<%KOMPAKTO_LAYER_TEXT%>", 256, ""); },
     257, 0, nullptr},
    {"Environment", "Expand_AVariableThatIsNotSet",
     [] { return Expanded("%KOMPAKTO_LAYER_NONE%\\x", 512, "%KOMPAKTO_LAYER_NONE%\\x"); },
     24, 0, nullptr},
    {"Environment", "Expand_ALetterWindows1252Lacks", ExpandLettersWindows1252Lacks, 0, 0, nullptr},

    {"Files", "Attributes_AFileNamedWithEveryLetter", KindOfEveryLetterFile, kAFile, 0, nullptr},
    {"Files", "Attributes_AFolderNamedWithABackslash", [] { return KindOf(std::string(kScratchFolder) + "\\"); },
     kAFolder, 0, nullptr},
    {"Files", "Attributes_NothingThere", [] { return KindOf(std::string(kScratchFolder) + "\\none"); },
     kNothing, 0, nullptr},

    {"Libraries", "Load_ALibraryOfTheSystem", [] { return LoadAndFree("user32.dll"); }, kSome, 0, nullptr},
    {"Libraries", "Load_ALibraryThatIsNotThere", [] { return LoadAndFree("kompakto-none.dll"); }, kNone, 0, nullptr},
    // As user32 has them since Windows 10 1703, and in Wine 8.
    {"Libraries", "ProcAddress_EachTheProgramAsksFor",
     [] { return ProceduresOfUser32({"MessageBoxTimeoutW", "SetProcessDpiAwarenessContext", "SetProcessDPIAware"}); },
     kSome, 0, nullptr},
    {"Libraries", "ProcAddress_OneThatIsNotThere", [] { return ProceduresOfUser32({"KompaktoNone"}); },
     kNone, 0, nullptr},

    {"Process", "BoxesCanBeSeen_InTheSessionOfTheTests", [] { return OsBoxesCanBeSeen() ? kSome : kNone; },
     kSome, 0, nullptr},
    {"Process", "BoxesCanBeSeen_InAWindowStationNobodySees", [] { return SeenWith(ContractUseUnseenWindowStation); },
     kNone, 0, nullptr},
    // Boxes count as seen where Windows does not say: the program's own choice.
    {"Process", "BoxesCanBeSeen_WhereWindowsDoesNotSay", [] { return SeenWith(ContractSilenceWindowStation); },
     kSome, 0, nullptr},

    {"Shell", "OpenPage_AProgramThatEndsByItself", OpeningAProgramThatEnds, kOpened, 0, nullptr},
    {"Shell", "OpenPage_AProgramThatIsNotThere", [] { return Opening(std::string(kScratchFolder) + "\\none.exe"); },
     win::kSeErrFileNotFound, 0, nullptr},

    // A box that is not shown answers no button, whatever Windows or Wine say.
    {"Boxes", "MessageBoxIndirect_OwnedByNoWindow", BoxOwnedByNoWindow, 0, 0, nullptr},

    // The process's first declaration; Wine 8 has no per-monitor awareness.
    {"Dpi", "CallSetProcessDpiAwarenessContext_PerMonitorV2",
     [] { return DeclaringDpiAwareness(win::kDpiAwarenessContextPerMonitorAwareV2); },
     kSome, kNone, "api/winuser/nf-winuser-setprocessdpiawarenesscontext"},
    {"Dpi", "CallSetProcessDpiAwarenessContext_NoContext", [] { return DeclaringDpiAwareness(0x7FFF0001); },
     kNone, 0, nullptr},
};
// clang-format on

std::vector<ContractRow> RowsOf(const char* group) {
    std::vector<ContractRow> rows;
    for (const ContractRow& row : kContract) {
        if (strcmp(row.group, group) == 0) rows.push_back(row);
    }
    return rows;
}

class Operation : public Contract, public testing::WithParamInterface<ContractRow> {};

TEST_P(Operation, HandsBackWhatWindowsAnswered) {
    const ContractRow& row = GetParam();
    long expected = ContractIsWine() && row.page ? row.wine : row.expected;
    if (expected == kAsTheViewsAre) expected = ContractHasTwoViews() ? win::kErrorFileNotFound : win::kErrorSuccess;
    EXPECT_EQ(expected, row.call()) << (row.page ? row.page : "");
}

std::string RowName(const testing::TestParamInfo<ContractRow>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Registry, Operation, testing::ValuesIn(RowsOf("Registry")), RowName);
INSTANTIATE_TEST_SUITE_P(Environment, Operation, testing::ValuesIn(RowsOf("Environment")), RowName);
INSTANTIATE_TEST_SUITE_P(Files, Operation, testing::ValuesIn(RowsOf("Files")), RowName);
INSTANTIATE_TEST_SUITE_P(Libraries, Operation, testing::ValuesIn(RowsOf("Libraries")), RowName);
INSTANTIATE_TEST_SUITE_P(Process, Operation, testing::ValuesIn(RowsOf("Process")), RowName);
INSTANTIATE_TEST_SUITE_P(Shell, Operation, testing::ValuesIn(RowsOf("Shell")), RowName);
INSTANTIATE_TEST_SUITE_P(Boxes, Operation, testing::ValuesIn(RowsOf("Boxes")), RowName);
INSTANTIATE_TEST_SUITE_P(Dpi, Operation, testing::ValuesIn(RowsOf("Dpi")), RowName);

}  // namespace
