// Switching the verb on and off: the stored command, the keys written and
// deleted, and what the user is told.
#include <gtest/gtest.h>

#include <functional>

#include "app/texts.h"
#include "fake/fake.h"
#include "shell/context_menu.h"
#include "support.h"

namespace {

using Names = std::vector<std::string>;

struct Machine {
    const char* name;
    const char* programFiles;        // nullptr: as the fake has it
    const char* programW6432;        // nullptr: as the fake has it, "": not defined
    std::vector<std::string> files;  // the first is the viewer that must be registered
    std::vector<std::string> folders;
};

const Machine kMachines[] = {
    {"both viewers: the 64-bit one wins", nullptr, nullptr, {kViewer64Path, kViewer32Path}, {}},
    {"only the 32-bit viewer on 64-bit Windows", nullptr, nullptr, {kViewer32Path}, {}},
    {"32-bit Windows: %ProgramFiles%", "C:\\Programme", "", {"C:\\Programme\\IrfanView\\I_view32.exe"}, {}},
    {"a path without spaces is quoted all the same", nullptr, "D:\\Apps", {"D:\\Apps\\IrfanView\\I_view64.exe"}, {}},
    {"a network share counts", nullptr, "\\\\server\\apps", {"\\\\server\\apps\\IrfanView\\I_view64.exe"}, {}},
    {"a folder named like the 64-bit viewer is passed over", nullptr, nullptr, {kViewer32Path}, {kViewer64Path}},
};

TEST(Activation, RegistersTheViewerThatIsThere) {
    for (const Machine& m : kMachines) {
        SCOPED_TRACE(m.name);
        FakeReset();
        if (m.programFiles) FakeSetEnv("ProgramFiles", m.programFiles);
        if (m.programW6432 && *m.programW6432) FakeSetEnv("ProgramW6432", m.programW6432);
        if (m.programW6432 && !*m.programW6432) FakeUnsetEnv("ProgramW6432");
        for (const std::string& file : m.files) FakeAddFile(file);
        for (const std::string& folder : m.folders) FakeAddFolder(folder);
        EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes));
        EXPECT_EQ(ExpectedCommand(m.files[0]), StoredCommand());
        ASSERT_EQ(2u, FakeBoxes().size());
        const FakeBox& confirmation = FakeBoxes()[1];
        EXPECT_EQ("CallMessageBoxTimeout", confirmation.via);
        EXPECT_EQ(ExpectedText("activated"), confirmation.text);
        EXPECT_EQ(facts::kConfirmCaption, confirmation.caption);
        EXPECT_EQ(static_cast<uint32_t>(facts::kConfirmStyle), confirmation.style);
        EXPECT_EQ(static_cast<uint32_t>(facts::kConfirmTimeoutMs), confirmation.timeoutMs);
        EXPECT_EQ(0u, confirmation.language) << "the user's language, not one of the program's choosing";
        EXPECT_FALSE(confirmation.hasOwner);
    }
}

TEST(Activation, TwiceKeepsOneVerbWithTheLatestCommand) {
    FakeAddFile(kViewer32Path);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes));
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes));
    EXPECT_EQ(ExpectedCommand(kViewer64Path), StoredCommand());
    EXPECT_EQ(
        "[SOFTWARE]\n[SOFTWARE\\Classes]\n[SOFTWARE\\Classes\\AllFilesystemObjects]\n"
        "[SOFTWARE\\Classes\\AllFilesystemObjects\\shell]\n[" +
            std::string(facts::kVerbKey) + "]\n[" + facts::kVerbCommandKey +
            "]\n  @=" + ExpectedCommand(kViewer64Path) + '\0' + "\n",
        FakeRegistryDump());
}

TEST(Activation, WritesOneValueWithTheDocumentedCalls) {
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes, "kompakto.exe /s"));
    // Probing from the command key upwards tells which keys this run creates;
    // then the verb key is asked for values that would hide or divert the
    // verb, each diverting sub key is looked for, and the command key is asked
    // for its diverting values: none is there to remove.
    Names expected{"RegOpenKeyEx", "RegOpenKeyEx", "RegOpenKeyEx",  "RegOpenKeyEx", "RegOpenKeyEx",
                   "RegCloseKey",  "RegCreateKey", "RegSetValueEx", "RegCloseKey",  "RegOpenKeyEx"};
    size_t verbQueries = FakeNames(facts::kVerbHidingValues).size() + FakeNames(facts::kVerbDivertingValues).size();
    expected.insert(expected.end(), verbQueries, "RegQueryValueEx");
    expected.push_back("RegCloseKey");
    expected.insert(expected.end(), FakeNames(facts::kVerbDivertingSubKeys).size(), "RegOpenKeyEx");
    expected.push_back("RegOpenKeyEx");
    expected.insert(expected.end(), FakeNames(facts::kCommandDivertingValues).size(), "RegQueryValueEx");
    expected.push_back("RegCloseKey");
    EXPECT_EQ(expected, CallNamesOf("Reg"));
    EXPECT_EQ(Names{"HKCU \"" + std::string(facts::kVerbCommandKey) + "\""}, CallDetailsOf("RegCreateKey"));
    std::string command = ExpectedCommand(kViewer64Path);
    Names sets = CallDetailsOf("RegSetValueEx");
    ASSERT_EQ(1u, sets.size());
    EXPECT_NE(std::string::npos, sets[0].find("\"\" type=" + std::to_string(win::kRegSz) + " \"" + command +
                                              "\" bytes=" + std::to_string(command.size() + 1)));
    EXPECT_TRUE(CallNamesOf("OpenPage").empty());
}

TEST(Activation, NoViewerOffersTheDownloadAndEndsWithOne) {
    for (int answer : {win::kIdYes, win::kIdNo, win::kIdCancel, 0}) {
        for (const char* commandLine : {"kompakto.exe", "kompakto.exe /s"}) {
            FakeReset();
            EXPECT_EQ(facts::kExitNoViewer, RunAnswering(win::kIdYes, commandLine, answer));
            ASSERT_EQ(2u, FakeBoxes().size());
            const FakeBox& offer = FakeBoxes()[1];
            EXPECT_EQ(kDownloadText, offer.text);
            EXPECT_EQ(kDownloadCaption, offer.caption);
            EXPECT_EQ(static_cast<uint32_t>(facts::kDownloadStyle), offer.style);
            EXPECT_EQ("i", offer.iconName);
            EXPECT_TRUE(offer.isDesktopOwner);
            EXPECT_EQ(Names{}, RegistryCallsBesidesTheSearch());
            if (answer == win::kIdYes) {
                ASSERT_EQ(1u, FakeOpenedAddresses().size());
                EXPECT_EQ(kDownloadAddress, FakeOpenedAddresses()[0]);
            } else {
                EXPECT_TRUE(FakeOpenedAddresses().empty());
            }
        }
    }
}

TEST(Activation, APageThatCannotBeOpenedIsToldWithItsAddress) {
    for (const char* commandLine : {"kompakto.exe", "kompakto.exe /s"}) {
        FakeReset();
        FakeFailOp(kOpOpenPage, 1, win::kSeErrNoAssoc);
        EXPECT_EQ(facts::kExitNoViewer, RunAnswering(win::kIdYes, commandLine, win::kIdYes));
        ASSERT_EQ(3u, FakeBoxes().size());
        const FakeBox& box = FakeBoxes()[2];
        EXPECT_EQ("MessageBox", box.via);
        EXPECT_EQ(facts::kErrorCaption, box.caption);
        EXPECT_EQ(ExpectedText("download failed"), box.text);
        EXPECT_EQ(static_cast<uint32_t>(facts::kErrorStyle), box.style);
        EXPECT_EQ(Names{}, RegistryCallsBesidesTheSearch());
    }
}

// The parent of the verb lets the user only read it, or lasts only until
// Windows restarts, as another program may have left it.
TEST(Activation, RefusedWriteIsReportedAndLeavesNoKeyBehind) {
    for (void (*refuse)(const std::string&) : {FakeLockKey, FakeMakeKeyVolatile}) {
        FakeReset();
        FakeAddFile(kViewer64Path);
        refuse("SOFTWARE\\Classes\\AllFilesystemObjects\\shell");
        FakeSetValue("SOFTWARE\\Classes\\AllFilesystemObjects\\shell", "", "kept");
        std::string before = FakeRegistryDump();
        EXPECT_EQ(facts::kExitRegistryFailed, RunAnswering(win::kIdYes, "kompakto.exe /s"));
        EXPECT_EQ(kErrorCaption, LastCaption());
        EXPECT_EQ(kActivationFailedText, FakeBoxes().back().text);
        EXPECT_EQ(static_cast<uint32_t>(facts::kErrorStyle), FakeBoxes().back().style);
        EXPECT_EQ(before, FakeRegistryDump());
    }
}

// A write that fails deletes the verb's two keys where it created them, and
// keeps an earlier command where there was one.
TEST(Activation, FailedWriteTakesBackOnlyTheKeysItCreated) {
    for (bool earlierCommand : {false, true}) {
        SCOPED_TRACE(earlierCommand ? "over an earlier command" : "beside another verb");
        FakeReset();
        FakeAddFile(kViewer64Path);
        FakeAddKey("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Other");
        if (earlierCommand) FakeSetValue(facts::kVerbCommandKey, "", "\"C:\\old\\i_view32.exe\" \"%1\"");
        std::string before = FakeRegistryDump();
        FakeFailOp(kOpRegSetValueEx, 1, win::kErrorAccessDenied);
        EXPECT_EQ(facts::kExitRegistryFailed, RunAnswering(win::kIdYes));
        EXPECT_EQ(before, FakeRegistryDump());
        EXPECT_EQ((earlierCommand ? Names{} : Names{"RegDeleteKey", "RegDeleteKey"}), CallNamesOf("RegDelete"));
    }
}

// What menu tools and other programs leave on the verb, one group for each
// kind of entry of facts.h: after Ja Explorer shows the entry and runs the
// command, what hid or diverted the verb is gone, and nothing else is.
const std::string kOtherSubKey = std::string(facts::kVerbKey) + "\\shell\\Other";

// Switches on a verb that holds an old command, the entry and an unrelated
// sub key of the verb; the entry must have hidden or diverted the verb
// before, when diverting is set.
void SwitchOnBeside(const std::function<void()>& plant, bool diverting) {
    FakeReset();
    FakeAddFile(kViewer64Path);
    FakeSetValue(facts::kVerbCommandKey, "", "\"C:\\old\\i_view32.exe\" \"%1\"");
    FakeSetValue(kOtherSubKey, "", "kept");
    plant();
    ASSERT_EQ(diverting, FakeExplorerCommand(facts::kVerbKey).empty()) << "planted wrongly";
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes));
    EXPECT_EQ(ExpectedCommand(kViewer64Path), FakeExplorerCommand(facts::kVerbKey));
    EXPECT_EQ(kActivatedText, FakeBoxes().back().text);
    EXPECT_EQ("kept", StoredText(kOtherSubKey, ""));
}

// Hiding values go from the verb key, diverting ones from the verb key and
// from its command key.
TEST(SwitchOn, HidingAndDivertingValuesGo) {
    struct Place {
        const char* key;
        const char* names;
        const char* data;
    };
    for (const Place& place : {Place{facts::kVerbKey, facts::kVerbHidingValues, ""},
                               Place{facts::kVerbKey, facts::kVerbDivertingValues, "{0}"},
                               Place{facts::kVerbCommandKey, facts::kCommandDivertingValues, "{0}"}}) {
        for (const std::string& name : FakeNames(place.names)) {
            SCOPED_TRACE(name);
            SwitchOnBeside([&] { FakeSetValue(place.key, name, place.data); }, true);
            EXPECT_EQ("<none>", StoredText(place.key, name));
        }
    }
}

// The sub key goes with every key below it: a key that still has sub keys
// cannot be deleted, which the fake refuses as Windows does.
TEST(SwitchOn, DivertingSubKeysGoWithTheirTree) {
    for (const std::string& name : FakeNames(facts::kVerbDivertingSubKeys)) {
        SCOPED_TRACE(name);
        const std::string subKey = std::string(facts::kVerbKey) + "\\" + name;
        SwitchOnBeside(
            [&subKey] {
                FakeSetValue(subKey, "CLSID", "{0}");
                FakeSetValue(subKey + "\\topic\\deeper", "", "x");
                FakeAddKey(subKey + "\\application");
            },
            true);
        EXPECT_FALSE(FakeKeyExists(subKey));
    }
}

// Filters and decorations are kept with their data, as is anything else on
// the verb; with none of the other kinds there the verb is only read.
TEST(SwitchOn, FiltersDecorationsAndEverythingElseStay) {
    Names kept = FakeNames(std::string(facts::kVerbFilteringValues) + ";" + facts::kVerbDecoratingValues +
                           ";SeparatorBefore;NeverDefault;Unknown");
    SwitchOnBeside(
        [&kept] {
            for (const std::string& name : kept) FakeSetValue(facts::kVerbKey, name, name + " kept");
            FakeSetValue(facts::kVerbCommandKey, "Unknown", "kept");
        },
        false);
    for (const std::string& name : kept) EXPECT_EQ(name + " kept", StoredText(facts::kVerbKey, name));
    EXPECT_EQ("kept", StoredText(facts::kVerbCommandKey, "Unknown"));
    EXPECT_TRUE(CallNamesOf("RegDelete").empty());
}

// An entry that hides or diverts the verb and cannot be removed: the command
// stays written, but the entry is not on, so the failure is told and nothing
// is confirmed.
TEST(SwitchOn, AnEntryThatStaysIsAFailedActivation) {
    const std::string hiding = FakeNames(facts::kVerbHidingValues)[0];
    const std::string subKey = std::string(facts::kVerbKey) + "\\" + FakeNames(facts::kVerbDivertingSubKeys)[0];
    struct Refusal {
        const char* name;
        FakeOp failing;     // kOpCount: none
        bool lockedSubKey;  // a key below the diverting sub key that the user may only read
    };
    const Refusal refusals[] = {
        {"a value that cannot be removed", kOpRegDeleteValue, false},
        {"a value the registry does not tell of", kOpRegQueryValueEx, false},
        {"a sub key that cannot be removed", kOpRegDeleteTree, false},
        {"a sub key with a key below it the user may only read", kOpCount, true},
    };
    for (const Refusal& r : refusals) {
        for (const char* commandLine : {"kompakto.exe", "kompakto.exe /s"}) {
            SCOPED_TRACE(r.name);
            FakeReset();
            FakeAddFile(kViewer64Path);
            FakeSetValue(facts::kVerbKey, hiding, "");
            FakeSetValue(subKey, "CLSID", "{0}");
            if (r.lockedSubKey) FakeLockKey(subKey + "\\inner");
            FakeSetValue(facts::kVerbKey, FakeNames(facts::kVerbDecoratingValues)[0], "kept");
            if (r.failing != kOpCount) FakeFailOp(r.failing, 1, win::kErrorAccessDenied);
            EXPECT_EQ(facts::kExitRegistryFailed, RunAnswering(win::kIdYes, commandLine));
            EXPECT_EQ("", FakeExplorerCommand(facts::kVerbKey));
            EXPECT_EQ(ExpectedCommand(kViewer64Path), StoredCommand());
            ASSERT_EQ(2u, FakeBoxes().size());
            EXPECT_EQ(kActivationFailedText, FakeBoxes().back().text);
            EXPECT_EQ(facts::kErrorCaption, LastCaption());
        }
    }
}

TEST(Deactivation, RemovesBothVerbsAndNothingElse) {
    FakeSetValue(facts::kVerbCommandKey, "", "x");
    FakeSetValue(facts::kFolderVerbCommandKey, "", "y");
    FakeSetValue("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Unrelated\\command", "", "z");
    FakeAddKey("SOFTWARE\\Classes\\Directory\\shell\\Other");
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdNo));
    EXPECT_FALSE(FakeKeyExists(facts::kVerbKey));
    EXPECT_FALSE(FakeKeyExists(facts::kFolderVerbKey));
    EXPECT_TRUE(FakeKeyExists("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Unrelated\\command"));
    EXPECT_TRUE(FakeKeyExists("SOFTWARE\\Classes\\Directory\\shell\\Other"));
    Names order;
    for (const char* key :
         {facts::kVerbCommandKey, facts::kVerbKey, facts::kFolderVerbCommandKey, facts::kFolderVerbKey}) {
        order.push_back("HKCU \"" + std::string(key) + "\"");
    }
    EXPECT_EQ(order, CallDetailsOf("RegDeleteKey"));
    EXPECT_EQ(kDeactivatedText, FakeBoxes().back().text);
    EXPECT_EQ(0u, FakeBoxes().back().language);
    EXPECT_TRUE(CallNamesOf("GetFileAttributes").empty());
    EXPECT_TRUE(CallNamesOf("Expand").empty());
}

TEST(Deactivation, NothingRegisteredIsStillDone) {
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdNo));
    EXPECT_EQ(kDeactivatedText, FakeBoxes().back().text);
}

TEST(Deactivation, SilentShowsNoConfirmation) {
    FakeSetValue(facts::kVerbCommandKey, "", "x");
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdNo, "kompakto.exe -S"));
    EXPECT_EQ(1u, FakeBoxes().size());
    EXPECT_FALSE(FakeKeyExists(facts::kVerbKey));
}

// Another program's sub key on any of the four keys, a key whose access list
// lets the user only read it, or a registry that does not tell: nothing is
// deleted, and the failure is told, silent or not.
TEST(Deactivation, LooksAtAllFourKeysBeforeDeletingAny) {
    struct Obstacle {
        const char* name;
        const char* foreignParent;     // gets another program's sub key
        FakeOp failing;                // kOpCount: none; else its fourth call is refused
        const char* lockedKey;         // the user may only read it
        const char* absentCommandKey;  // a verb that holds no command key of its own
    };
    const Obstacle obstacles[] = {
        {"sub key under the command key", facts::kVerbCommandKey, kOpCount, nullptr, nullptr},
        {"sub key beside the command key", facts::kVerbKey, kOpCount, nullptr, nullptr},
        {"sub key under the folder command key", facts::kFolderVerbCommandKey, kOpCount, nullptr, nullptr},
        {"sub key beside the folder command key", facts::kFolderVerbKey, kOpCount, nullptr, nullptr},
        {"sub key under a verb without its command key", facts::kVerbKey, kOpCount, nullptr, facts::kVerbCommandKey},
        {"sub key under a folder verb without its command key", facts::kFolderVerbKey, kOpCount, nullptr,
         facts::kFolderVerbCommandKey},
        {"a key that may not be opened", nullptr, kOpRegOpenKeyEx, nullptr, nullptr},
        {"a key that does not tell its sub keys", nullptr, kOpRegQueryInfoKey, nullptr, nullptr},
        {"a command key the user may only read", nullptr, kOpCount, facts::kVerbCommandKey, nullptr},
        {"a verb key the user may only read", nullptr, kOpCount, facts::kVerbKey, nullptr},
        {"a folder command key the user may only read", nullptr, kOpCount, facts::kFolderVerbCommandKey, nullptr},
        {"a folder verb key the user may only read", nullptr, kOpCount, facts::kFolderVerbKey, nullptr},
    };
    for (const Obstacle& o : obstacles) {
        SCOPED_TRACE(o.name);
        FakeReset();
        for (const char* command : {facts::kVerbCommandKey, facts::kFolderVerbCommandKey}) {
            if (command != o.absentCommandKey) FakeSetValue(command, "", "old command");
        }
        if (o.foreignParent) FakeAddKey(std::string(o.foreignParent) + "\\extra");
        if (o.lockedKey) FakeLockKey(o.lockedKey);
        if (o.failing != kOpCount) FakeFailOp(o.failing, 4, win::kErrorAccessDenied);
        std::string before = FakeRegistryDump();
        EXPECT_EQ(facts::kExitRegistryFailed, RunAnswering(win::kIdNo, "kompakto.exe /s"));
        EXPECT_EQ(before, FakeRegistryDump());
        EXPECT_TRUE(CallNamesOf("RegDelete").empty());
        EXPECT_EQ(facts::kErrorCaption, LastCaption());
        EXPECT_EQ(ExpectedText("deactivation failed"), FakeBoxes().back().text);
    }
}

}  // namespace
