// Where the viewer is found: each place alone, their order, every kind of
// value that a place must pass over, and the folders and paths that are
// never taken.
#include <gtest/gtest.h>

#include <string.h>

#include "app/texts.h"
#include "fake/fake.h"
#include "shell/context_menu.h"
#include "support.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kFolder = "D:\\Tools\\IrfanView";
const std::string k64 = kFolder + "\\" + facts::kProgram64;
const std::string k32 = kFolder + "\\" + facts::kProgram32;
const std::string kOther64 = "E:\\IV\\i_view64.exe";
const std::string kOther32 = "E:\\IV\\i_view32.exe";
const char* const kLocation = facts::kInstallLocation;
const char* const kUninstaller = facts::kUninstallString;

// The entries' keys as a 32-bit program sees them, and the user's.
enum Where { kView64Entry64, kView64Entry32, kView32Entry64, kView32Entry32, kUserEntry64, kUserEntry32 };
std::string KeyOf(Where where) {
    const char* key = where % 2 == 0 ? facts::kUninstallKey64 : facts::kUninstallKey32;
    return where >= kUserEntry64 ? key
                                 : FakeMachineKey(where < kView32Entry64 ? kRegistryView64 : kRegistryView32, key);
}

struct Value {
    Where where;
    const char* name;
    std::string data;  // a REG_SZ, unless type says otherwise
    uint32_t type = win::kRegSz;
    bool inWindows1252 = true;
};

std::string Scoop(const std::string& root, const char* app, const char* program) { return root + "\\" + app + program; }
const std::string kUserScoop64 = Scoop("C:\\Users\\Anna\\scoop", facts::kScoopApp, facts::kProgram64);
const std::string kLeanScoop32 = Scoop("E:\\scoop", facts::kScoopLeanApp, facts::kProgram32);
const std::string kGlobalScoop64 = Scoop("F:\\scoop", facts::kScoopApp, facts::kProgram64);
const std::string kDefaultGlobalLean64 = Scoop("C:\\ProgramData\\scoop", facts::kScoopLeanApp, facts::kProgram64);
const std::string kShareScoop32 = Scoop("\\\\srv\\scoop", facts::kScoopApp, facts::kProgram32);

struct Place {
    const char* name;
    std::vector<Value> values;
    Texts files;
    Texts variables;     // NAME=VALUE
    std::string viewer;  // the one registered; empty: none, the download offer
    bool windows32 = false;
};

const std::string kLong = "E:\\" + std::string(500, 'x');

// clang-format off
const Place kPlaces[] = {
    // Each place alone.
    {"the 64-bit entry in the 64-bit view", {{kView64Entry64, kLocation, kFolder}}, {k64}, {}, k64},
    {"the 32-bit entry in the 64-bit view", {{kView64Entry32, kLocation, kFolder}}, {k32}, {}, k32},
    {"the 64-bit entry in the 32-bit view", {{kView32Entry64, kLocation, kFolder}}, {k64}, {}, k64},
    {"the 32-bit entry in the 32-bit view", {{kView32Entry32, kLocation, kFolder}}, {k32}, {}, k32},
    {"the 64-bit entry of the user", {{kUserEntry64, kLocation, kFolder}}, {k64}, {}, k64},
    {"the 32-bit entry of the user", {{kUserEntry32, kLocation, kFolder}}, {k32}, {}, k32},
    {"32-bit Windows: its one view", {{kView32Entry32, kLocation, kFolder}}, {k32}, {}, k32, true},
    {"the uninstaller's folder", {{kView64Entry64, kUninstaller, kFolder + "\\iv_uninstall.exe"}}, {k64}, {}, k64},
    {"the user's Scoop, by default", {}, {kUserScoop64}, {"USERPROFILE=C:\\Users\\Anna"}, kUserScoop64},
    {"the user's Scoop where %SCOOP% says", {}, {kUserScoop64, kLeanScoop32},
     {"USERPROFILE=C:\\Users\\Anna", "SCOOP=E:\\scoop"}, kLeanScoop32},
    {"the global Scoop, by default", {}, {kDefaultGlobalLean64}, {"ProgramData=C:\\ProgramData"}, kDefaultGlobalLean64},
    {"the global Scoop where %SCOOP_GLOBAL% says, on a share", {}, {kShareScoop32}, {"SCOOP_GLOBAL=\\\\srv\\scoop"},
     kShareScoop32},
    // The order.
    {"the setup's own folder before any entry", {{kView64Entry64, kLocation, kFolder}}, {kViewer32Path, k64}, {},
     kViewer32Path},
    {"the 64-bit view before the 32-bit one",
     {{kView32Entry64, kLocation, "E:\\IV"}, {kView64Entry32, kLocation, kFolder}}, {kOther64, k32}, {}, k32},
    {"the 64-bit edition's entry first",
     {{kUserEntry32, kLocation, "E:\\IV"}, {kUserEntry64, kLocation, kFolder}}, {kOther32, k64}, {}, k64},
    {"the entries before Scoop", {{kUserEntry32, kLocation, kFolder}}, {kGlobalScoop64, kLeanScoop32, k32},
     {"SCOOP=E:\\scoop", "SCOOP_GLOBAL=F:\\scoop"}, k32},
    {"the user's Scoop before the global one", {}, {kGlobalScoop64, kLeanScoop32},
     {"SCOOP=E:\\scoop", "SCOOP_GLOBAL=F:\\scoop"}, kLeanScoop32},
    {"InstallLocation before UninstallString",
     {{kView64Entry64, kLocation, kFolder}, {kView64Entry64, kUninstaller, "E:\\IV\\iv_uninstall.exe"}},
     {k64, kOther64}, {}, k64},
    // What a value may look like.
    {"a REG_EXPAND_SZ, expanded", {{kView64Entry64, kLocation, "%SystemDrive%\\Tools\\IrfanView\\", win::kRegExpandSz}},
     {k64}, {"SystemDrive=D:"}, k64},
    {"a folder in quotes, with backslashes at its end", {{kView64Entry64, kLocation, "\"" + kFolder + "\\\\\""}},
     {k64}, {}, k64},
    {"the uninstaller in quotes, with arguments",
     {{kView64Entry64, kUninstaller, "\"" + kFolder + "\\iv_uninstall.exe\" /silent"}}, {k64}, {}, k64},
    {"the program itself", {{kView64Entry64, kLocation, k64}}, {k64}, {}, k64},
    {"an uninstaller at a drive's root", {{kView64Entry64, kUninstaller, "D:\\iv_uninstall.exe"}},
     {"D:\\i_view64.exe"}, {}, "D:\\i_view64.exe"},
    // What is passed over, the next place being taken.
    {"a value of another type", {{kView64Entry64, kLocation, std::string("\x01\0\0\0", 4), win::kRegDword},
                                 {kView64Entry64, kUninstaller, kFolder + "\\iv_uninstall.exe"}}, {k64}, {}, k64},
    {"an empty, a relative and an unclosed value, and a relative Scoop",
     {{kView64Entry64, kLocation, ""}, {kView32Entry64, kLocation, "IrfanView"},
      {kUserEntry64, kLocation, "\"" + kFolder}},
     {"IrfanView\\i_view64.exe", k64, "scoop\\apps\\irfanview\\current\\i_view64.exe", kGlobalScoop64},
     {"SCOOP=scoop", "SCOOP_GLOBAL=F:\\scoop"}, kGlobalScoop64},
    {"a letter that Windows-1252 lacks, a path too long",
     {{kView64Entry64, kLocation, kFolder + '\0', win::kRegSz, false}, {kView64Entry32, kLocation, kLong},
      {kUserEntry32, kLocation, "E:\\IV"}}, {k64, kLong + "\\i_view32.exe", kOther32}, {}, kOther32},
    {"a folder without the program, a folder named like it",
     {{kView64Entry64, kLocation, kFolder}, {kUserEntry64, kLocation, "E:\\IV"}}, {}, {}, ""},
};
// clang-format on

TEST(ViewerSearch, EachPlaceInTurnAndWhatItPassesOver) {
    for (const Place& place : kPlaces) {
        SCOPED_TRACE(place.name);
        FakeReset();
        if (place.windows32) FakeSetWindows32();
        for (const Value& v : place.values) FakeSetTypedValue(KeyOf(v.where), v.name, v.type, v.data, v.inWindows1252);
        for (const std::string& file : place.files) FakeAddFile(file);
        for (const std::string& variable : place.variables) {
            FakeSetEnv(variable.substr(0, variable.find('=')), variable.substr(variable.find('=') + 1));
        }
        FakeAddFolder(kFolder);
        FakeAddFolder("E:\\IV\\i_view64.exe");
        std::string before = FakeRegistryDump();
        int code = RunAnswering(win::kIdYes, "kompakto.exe /s", win::kIdNo);
        if (place.viewer.empty()) {
            EXPECT_EQ(facts::kExitNoViewer, code);
            EXPECT_EQ(before, FakeRegistryDump());
        } else {
            EXPECT_EQ(facts::kExitDone, code);
            EXPECT_EQ("\"" + place.viewer + facts::kCommandTail, FakeExplorerCommand(facts::kVerbKey));
        }
        // Nothing that does not name an absolute place is looked at.
        for (const std::string& probed : CallDetailsOf("GetFileAttributes")) {
            EXPECT_TRUE(probed.compare(0, 3, "\"\\\\") == 0 || probed[2] == ':') << probed;
        }
    }
}

TEST(ViewerSearch, AReadWindowsRefusesIsPassedOver) {
    FakeSetValue(KeyOf(kView64Entry64), kLocation, kFolder);
    FakeAddFile(k64);
    FakeSetValue(KeyOf(kUserEntry32), kLocation, "E:\\IV");
    FakeAddFile(kOther32);
    FakeFailOp(kOpRegQueryString, 1, win::kErrorAccessDenied);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes, "kompakto.exe /s"));
    EXPECT_EQ("\"" + kOther32 + facts::kCommandTail, FakeExplorerCommand(facts::kVerbKey));
}

// The setup's own folders holding it, nothing else is read.
TEST(ViewerSearch, TheSetupsFolderAloneIsLookedAt) {
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes, "kompakto.exe /s"));
    EXPECT_EQ(1u, CallNamesOf("GetFileAttributes").size());
    EXPECT_EQ(2u, CallNamesOf("ExpandEnvironmentStrings").size());
    for (const FakeCall& call : FakeCalls()) EXPECT_FALSE(ReadsTheViewersEntries(call)) << call.detail;
}

TEST(Activation, OnlyAFolderWhereTheViewersShouldBeIsNoViewer) {
    FakeAddFolder(kViewer64Path);
    FakeAddFolder(kViewer32Path);
    EXPECT_EQ(facts::kExitNoViewer, RunAnswering(win::kIdYes, "kompakto.exe", win::kIdNo));
    EXPECT_EQ(facts::kDownloadCaption, LastCaption());
    EXPECT_FALSE(FakeKeyExists(facts::kVerbKey));
}

// On 32-bit Windows %ProgramW6432% stays unexpanded: a program planted under
// that name in the current folder must never be registered.
TEST(Activation, UnexpandedOrRelativeFolderIsNeverSearched) {
    FakeUnsetEnv("ProgramW6432");
    FakeSetEnv("ProgramFiles", "Programme");
    FakeAddFile("%ProgramW6432%\\IrfanView\\I_view64.exe");
    FakeAddFile("Programme\\IrfanView\\I_view32.exe");
    EXPECT_EQ(facts::kExitNoViewer, RunAnswering(win::kIdYes, "kompakto.exe", win::kIdNo));
    EXPECT_EQ(kDownloadCaption, LastCaption());
    EXPECT_TRUE(CallNamesOf("GetFileAttributes").empty());
    EXPECT_FALSE(FakeKeyExists(facts::kVerbKey));
}

TEST(Activation, FailedExpansionIsNotFound) {
    FakeAddFile("%ProgramFiles%\\IrfanView\\I_view32.exe");
    FakeAddFile(kViewer32Path);
    FakeFailOp(kOpExpandEnvironmentStrings, 1, 0);  // %ProgramFiles% is expanded first
    EXPECT_EQ(facts::kExitNoViewer, RunAnswering(win::kIdYes, "kompakto.exe", win::kIdNo));
    EXPECT_EQ(facts::kDownloadCaption, LastCaption());
}
// Lengths of the viewer's path around the 512 characters a buffer holds.
class LongPath : public ::testing::TestWithParam<int> {};

TEST_P(LongPath, FitsWholeOrCountsAsNotFound) {
    int viewerLength = GetParam();
    const std::string name = "\\IrfanView\\I_view64.exe";
    std::string folder = "C:\\" + std::string(viewerLength - 3 - name.size(), 'p');
    std::string viewer = folder + name;
    ASSERT_EQ(static_cast<size_t>(viewerLength), viewer.size());
    FakeSetEnv("ProgramW6432", folder);
    FakeAddFile(viewer);
    FakeAddFile(viewer.substr(0, 512));
    int code = RunAnswering(win::kIdYes, "k /s", win::kIdCancel);
    if (viewerLength <= 512) {
        EXPECT_EQ(facts::kExitDone, code);
        EXPECT_EQ(ExpectedCommand(viewer), StoredCommand());
        EXPECT_EQ(static_cast<size_t>(viewerLength + 102), StoredCommand().size());
    } else {
        EXPECT_EQ(facts::kExitNoViewer, code);
        EXPECT_FALSE(FakeKeyExists(facts::kVerbKey));
        for (const std::string& path : CallDetailsOf("GetFileAttributes")) {
            EXPECT_EQ(std::string::npos, path.find("pppI")) << path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Edges, LongPath, ::testing::Values(100, 410, 411, 511, 512, 513, 514, 600, 4096));

// The expanded folder itself must fit into 512 characters with its zero.
TEST(Expansion, FolderOf511FitsAnd512DoesNot) {
    static char buffer[kPathSize];
    for (int length : {510, 511, 512, 513, 4096}) {
        std::string value(length - 1, 'f');  // the text adds a backslash
        FakeSetEnv("ProgramFiles", value);
        strcpy(buffer, "%ProgramFiles%\\");
        ExpandInPlace(buffer);
        if (length <= 511) {
            EXPECT_EQ(value + "\\", buffer) << length;
        } else {
            EXPECT_STREQ("%ProgramFiles%\\", buffer) << length;
        }
    }
}

TEST(AbsoluteFolder, OnlyDrivesAndShares) {
    for (const char* folder : {"C:\\", "z:\\x\\", "\\\\srv\\share\\"}) EXPECT_TRUE(IsAbsoluteFolder(folder)) << folder;
    for (const char* folder : {"C:", "C:dir\\", "\\dir\\", "\\\\", "\\\\\\x", "%ProgramW6432%\\", "", "1:\\"}) {
        EXPECT_FALSE(IsAbsoluteFolder(folder)) << folder;
    }
}

}  // namespace
