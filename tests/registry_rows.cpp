#include "registry_rows.h"

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
    return result == win::kErrorSuccess && RegistryKeyExists(Scratch(name)) ? -1 : result;
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
    return result == win::kErrorSuccess && RegistryValueExists(Scratch(name), value) ? -1 : result;
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
    for (int index = 0; RegistryStoreLetterWindows1252Lacks(index); index++) {
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
    if (result == win::kErrorSuccess && (RegistryGrantedAccess(key) != win::kKeyQueryValue ||
                                         OsRegQueryString(key, "v", name, 64) || strcmp(name, kMachineKeys[which]))) {
        result = -1;
    }
    OsRegCloseKey(key);
    return result;
}

// The answer for a key of the other view: with two views each holds its own
// keys alone; with one, both see them.
constexpr long kAsTheViewsAre = -2;

// Each operation once where Windows does it and once where it refuses, with
// the refusals the program meets: the answer Windows gives must come back.
// Where Wine answers otherwise than Microsoft's documentation says Windows
// does, the row has both, and the page: the fake is held to the documented
// answer, Wine to its own.
struct RegistryRow {
    const char* name;  // Operation_Contract
    long (*call)();
    long expected;
    long wine;
    const char* page;  // under https://learn.microsoft.com/windows/win32/api/
};

// clang-format off
const RegistryRow kRegistryRows[] = {
    {"OpenMachine_A64BitKeyIn64BitView", [] { return MachineKeyIn(kRegistryView64, 0); }, win::kErrorSuccess, 0, nullptr},
    {"OpenMachine_A32BitKeyIn32BitView", [] { return MachineKeyIn(kRegistryView32, 1); }, win::kErrorSuccess, 0, nullptr},
    {"OpenMachine_A64BitKeyIn32BitView", [] { return MachineKeyIn(kRegistryView32, 0); }, kAsTheViewsAre, 0, nullptr},
    {"OpenMachine_A32BitKeyIn64BitView", [] { return MachineKeyIn(kRegistryView64, 1); }, kAsTheViewsAre, 0, nullptr},
    {"Open_AKeyThatIsThere", [] { return OpenAs("plain", win::kKeyQueryValue); }, win::kErrorSuccess, 0, nullptr},
    {"Open_AKeyThatIsNotThere", [] { return OpenAs("missing", win::kKeyQueryValue); }, win::kErrorFileNotFound, 0, nullptr},
    {"Open_ToWriteValuesWhereTheAccessListDeniesIt", [] { return OpenAs("locked", win::kKeySetValue); }, win::kErrorAccessDenied,
     0, nullptr},
    {"Open_ToDeleteWhereTheAccessListDeniesIt", [] { return OpenAs("locked", win::kKeyQueryValue | win::kDelete); },
     win::kErrorAccessDenied, 0, nullptr},
    {"Create_AKeyWithMissingParents", [] { return Create("new\\deeper"); }, win::kErrorSuccess, 0, nullptr},
    {"Create_ALastingKeyBelowAVolatileOne", [] { return Create("volatile\\child"); }, win::kErrorChildMustBeVolatile, 0,
     nullptr},
    {"Create_AKeyWhoseAccessListDeniesWriting", [] { return Create("locked"); }, win::kErrorAccessDenied, 0, nullptr},
    {"QueryInfo_TwoSubKeysAndAValue", [] { return SubKeysOf("plain", 2); }, win::kErrorSuccess, 0, nullptr},
    {"QueryInfo_NoKey", [] { return SubKeysOf("missing", 0); }, win::kErrorInvalidHandle, 0, nullptr},
    // "The key must have been opened with the KEY_QUERY_VALUE access right."
    {"QueryInfo_OnAKeyOpenedOnlyToWrite", [] { return SubKeysOf("plain", 2, win::kKeySetValue); }, win::kErrorAccessDenied,
     win::kErrorSuccess, "winreg/nf-winreg-regqueryinfokeyw"},
    {"QueryValue_OneOfAnotherType", [] { return QueryValueOf("plain", "v"); }, win::kErrorSuccess, 0, nullptr},
    {"QueryValue_OneThatIsNotThere", [] { return QueryValueOf("plain", "w"); }, win::kErrorFileNotFound, 0, nullptr},
    {"QueryString_EveryLetterFillingTheBuffer", [] { return ReadText("all", 256, AllBytes()); }, win::kErrorSuccess, 0,
     nullptr},
    {"QueryString_OneLetterMoreThanFits", [] { return ReadText("all", 255); }, win::kErrorMoreData, 0, nullptr},
    {"QueryString_ExpandedFillingTheBuffer", [] { return ReadText("expand", 257, "<" + AllBytes("%") + ">"); },
     win::kErrorSuccess, 0, nullptr},
    {"QueryString_ExpandedOneLetterMoreThanFits", [] { return ReadText("expand", 256); }, win::kErrorMoreData, 0,
     nullptr},
    {"QueryString_StoredWithoutItsZero", [] { return ReadText("bare", 4, "abc"); }, win::kErrorSuccess, 0, nullptr},
    // Where a whole letter fits after the data, Wine puts a zero there itself; after half a letter it does not.
    {"QueryString_StoredWithHalfALetterAndNoZero", [] { return ReadText("odd", 4, "abc"); }, win::kErrorSuccess, 0,
     nullptr},
    {"QueryString_StoredWithoutItsZeroFillingTheBuffer", [] { return ReadText("bare", 3); }, win::kErrorMoreData, 0,
     nullptr},
    {"QueryString_OneOfAnotherType", [] { return ReadText("v", 16); }, win::kErrorUnsupportedType, 0, nullptr},
    {"QueryString_OneThatIsNotThere", [] { return ReadText("w", 16); }, win::kErrorFileNotFound, 0, nullptr},
    {"QueryString_OnAKeyOpenedOnlyToWrite", [] { return ReadText("all", 256, "", win::kKeySetValue); }, win::kErrorAccessDenied, 0,
     nullptr},
    {"QueryString_ALetterWindows1252Lacks", ReadLettersWindows1252Lacks, win::kErrorNoUnicodeTranslation, 0, nullptr},
    {"SetValue_OnAKeyOpenedToWrite", [] { return SetValueOf("plain", win::kKeySetValue); }, win::kErrorSuccess, 0, nullptr},
    {"SetValue_OnAKeyOpenedOnlyToQuery", [] { return SetValueOf("plain", win::kKeyQueryValue); }, win::kErrorAccessDenied, 0,
     nullptr},
    {"DeleteValue_OneThatIsThere", [] { return DeleteValueOf("plain", "v"); }, win::kErrorSuccess, 0, nullptr},
    {"DeleteValue_OneThatIsNotThere", [] { return DeleteValueOf("plain", "w"); }, win::kErrorFileNotFound, 0, nullptr},
    {"DeleteKey_OneWithoutSubKeys", [] { return DeleteKeyOf("leaf"); }, win::kErrorSuccess, 0, nullptr},
    {"DeleteKey_OneThatIsNotThere", [] { return DeleteKeyOf("missing"); }, win::kErrorFileNotFound, 0, nullptr},
    {"DeleteKey_OneWithSubKeys", [] { return DeleteKeyOf("plain"); }, win::kErrorAccessDenied, 0, nullptr},
    {"DeleteTree_AKeyWithSubKeysAndValues", [] { return DeleteTreeOf("plain"); }, win::kErrorSuccess, 0, nullptr},
    {"DeleteTree_OneThatIsNotThere", [] { return DeleteTreeOf("missing"); }, win::kErrorFileNotFound, 0, nullptr},
    {"Close_AnOpenKey", [] { return OsRegCloseKey(Open("plain", win::kKeyQueryValue)); }, win::kErrorSuccess, 0, nullptr},
    {"Close_NoKey", [] { return OsRegCloseKey(reinterpret_cast<OsKey>(intptr_t{0x1234})); }, win::kErrorInvalidHandle, 0,
     nullptr},
};
// clang-format on

class Operation : public Registry, public testing::WithParamInterface<RegistryRow> {};

TEST_P(Operation, HandsBackWhatWindowsAnswered) {
    const RegistryRow& row = GetParam();
    long expected = RegistryIsWine() && row.page ? row.wine : row.expected;
    if (expected == kAsTheViewsAre) expected = RegistryHasTwoViews() ? win::kErrorFileNotFound : win::kErrorSuccess;
    EXPECT_EQ(expected, row.call()) << (row.page ? row.page : "");
}

INSTANTIATE_TEST_SUITE_P(Registry, Operation, testing::ValuesIn(kRegistryRows),
                         [](const testing::TestParamInfo<RegistryRow>& info) { return std::string(info.param.name); });

}  // namespace
