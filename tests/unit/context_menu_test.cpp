// Finding the viewer, the stored command, and the keys written and deleted.
#include <gtest/gtest.h>

#include <string.h>

#include "app/texts.h"
#include "platform/fake/fake.h"
#include "shell/context_menu.h"
#include "support.h"

namespace {

using Names = std::vector<std::string>;

std::string ExpectedCommand(const std::string& viewer) {
    return "\"" + viewer +
           Cp1252(
               "\" \"%1\" \"%1\\*.*\" /silent /resize_long=1600 /aspectratio /resample "
               "/jpgq=70 /convert=\"$N - ($W×$H).jpg\"");
}

std::string StoredCommand() {
    std::string value;
    if (!FakeGetValue(kVerbCommandKeyPath, "", &value)) return "<none>";
    EXPECT_FALSE(value.empty());
    EXPECT_EQ('\0', value.back()) << "stored without its terminating zero";
    return value.substr(0, value.size() - 1);
}

const int kNoSecondBox = -1;

// Answers the question, and the download offer if one is given.
int RunAnswering(int answer, const char* commandLine = "kompakto.exe", int offerAnswer = kNoSecondBox) {
    FakeSetCommandLine(commandLine);
    FakeQueueAnswer(answer);
    if (offerAnswer != kNoSecondBox) FakeQueueAnswer(offerAnswer);
    int code = FakeRun();
    EXPECT_EQ(0, FakeOpenKeyHandles()) << "a registry key was left open";
    EXPECT_EQ(0, FakeLoadedLibraries()) << "a library was left loaded";
    return code;
}

int LastCallNumber(const std::string& op) {
    int number = 0;
    for (size_t i = 0; i < FakeCalls().size(); i++) {
        if (FakeCalls()[i].op == op) number = static_cast<int>(i) + 1;
    }
    return number;
}

std::string LastCaption() { return FakeBoxes().empty() ? "" : FakeBoxes().back().caption; }

class Activation : public ::testing::Test {
  protected:
    void SetUp() override { FakeReset(); }
};

TEST_F(Activation, The64BitViewerWins) {
    FakeAddFile(kViewer64Path);
    FakeAddFile(kViewer32Path);
    EXPECT_EQ(0, RunAnswering(kIdYes));
    EXPECT_EQ(ExpectedCommand(kViewer64Path), StoredCommand());
    ASSERT_EQ(2u, FakeBoxes().size());
    const FakeBox& confirmation = FakeBoxes()[1];
    EXPECT_EQ("MessageBoxTimeout", confirmation.via);
    EXPECT_EQ(kActivatedText, confirmation.text);
    EXPECT_EQ("Kompakto", confirmation.caption);
    EXPECT_EQ(0x10040u, confirmation.style);
    EXPECT_EQ(5555u, confirmation.timeoutMs);
    EXPECT_FALSE(confirmation.hasOwner);
}

TEST_F(Activation, Only32BitViewerOn64BitWindows) {
    FakeAddFile(kViewer32Path);
    EXPECT_EQ(0, RunAnswering(kIdYes));
    EXPECT_EQ(ExpectedCommand(kViewer32Path), StoredCommand());
}

TEST_F(Activation, ThirtyTwoBitWindowsFindsTheViewerUnderProgramFiles) {
    FakeUnsetEnv("ProgramW6432");
    FakeSetEnv("ProgramFiles", "C:\\Programme");
    FakeAddFile("C:\\Programme\\IrfanView\\I_view32.exe");
    EXPECT_EQ(0, RunAnswering(kIdYes));
    EXPECT_EQ(ExpectedCommand("C:\\Programme\\IrfanView\\I_view32.exe"), StoredCommand());
}

TEST_F(Activation, PathWithoutSpacesIsQuotedAllTheSame) {
    FakeSetEnv("ProgramW6432", "D:\\Apps");
    FakeAddFile("D:\\Apps\\IrfanView\\I_view64.exe");
    EXPECT_EQ(0, RunAnswering(kIdYes));
    EXPECT_EQ(ExpectedCommand("D:\\Apps\\IrfanView\\I_view64.exe"), StoredCommand());
}

TEST_F(Activation, NetworkShareCounts) {
    FakeSetEnv("ProgramW6432", "\\\\server\\apps");
    FakeAddFile("\\\\server\\apps\\IrfanView\\I_view64.exe");
    EXPECT_EQ(0, RunAnswering(kIdYes));
    EXPECT_EQ(ExpectedCommand("\\\\server\\apps\\IrfanView\\I_view64.exe"), StoredCommand());
}

// On 32-bit Windows %ProgramW6432% stays unexpanded: a program planted under
// that name in the current folder must never be registered.
TEST_F(Activation, UnexpandedOrRelativeFolderIsNeverSearched) {
    FakeUnsetEnv("ProgramW6432");
    FakeSetEnv("ProgramFiles", "Programme");
    FakeAddFile("%ProgramW6432%\\IrfanView\\I_view64.exe");
    FakeAddFile("Programme\\IrfanView\\I_view32.exe");
    EXPECT_EQ(1, RunAnswering(kIdYes, "kompakto.exe", kIdNo));
    EXPECT_EQ(kDownloadCaption, LastCaption());
    EXPECT_TRUE(CallNamesOf("GetFileAttributes").empty());
    EXPECT_FALSE(FakeKeyExists(kVerbKeyPath));
}

TEST_F(Activation, FailedExpansionIsNotFound) {
    FakeAddFile("%ProgramFiles%\\IrfanView\\I_view32.exe");
    FakeAddFile(kViewer32Path);
    FakeQueueAnswer(kIdYes);
    FakeRun();
    int lastExpansion = LastCallNumber("ExpandEnvironmentStrings");
    ASSERT_GT(lastExpansion, 0);
    FakeReset();
    FakeAddFile("%ProgramFiles%\\IrfanView\\I_view32.exe");
    FakeAddFile(kViewer32Path);
    FakeFailCall(lastExpansion - 1, false);  // %ProgramFiles% is expanded first
    EXPECT_EQ(1, RunAnswering(kIdYes, "kompakto.exe", kIdNo));
    EXPECT_EQ(kDownloadCaption, LastCaption());
}

TEST_F(Activation, TwiceKeepsOneVerbWithTheLatestCommand) {
    FakeAddFile(kViewer32Path);
    EXPECT_EQ(0, RunAnswering(kIdYes));
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(0, RunAnswering(kIdYes));
    EXPECT_EQ(ExpectedCommand(kViewer64Path), StoredCommand());
    EXPECT_EQ(
        "[SOFTWARE]\n[SOFTWARE\\Classes]\n[SOFTWARE\\Classes\\AllFilesystemObjects]\n"
        "[SOFTWARE\\Classes\\AllFilesystemObjects\\shell]\n[" +
            std::string(kVerbKeyPath) + "]\n[" + kVerbCommandKeyPath + "]\n  @=" + ExpectedCommand(kViewer64Path) +
            '\0' + "\n",
        FakeRegistryDump());
}

TEST_F(Activation, WritesOneValueWithTheDocumentedCalls) {
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(0, RunAnswering(kIdYes, "kompakto.exe /s"));
    Names registry = CallNamesOf("Reg");
    // Probing from the command key upwards tells which keys this run creates.
    EXPECT_EQ((Names{"RegOpenKeyEx", "RegOpenKeyEx", "RegOpenKeyEx", "RegOpenKeyEx", "RegOpenKeyEx", "RegCloseKey",
                     "RegCreateKeyEx", "RegSetValueEx", "RegCloseKey"}),
              registry);
    std::string create, set;
    for (const FakeCall& call : FakeCalls()) {
        if (call.op == "RegCreateKeyEx") create = call.detail;
        if (call.op == "RegSetValueEx") set = call.detail;
    }
    EXPECT_EQ("HKCU \"" + std::string(kVerbCommandKeyPath) + "\" class=\"\" options=0 access=0xF003F", create);
    std::string command = ExpectedCommand(kViewer64Path);
    EXPECT_NE(std::string::npos,
              set.find("\"\" type=1 \"" + command + "\" bytes=" + std::to_string(command.size() + 1)));
    EXPECT_TRUE(CallNamesOf("Shell").empty());
}

TEST_F(Activation, NoViewerOffersTheDownloadAndEndsWithOne) {
    for (int answer : {kIdYes, kIdNo, kIdCancel, 0}) {
        for (const char* commandLine : {"kompakto.exe", "kompakto.exe /s"}) {
            FakeReset();
            EXPECT_EQ(1, RunAnswering(kIdYes, commandLine, answer));
            ASSERT_EQ(2u, FakeBoxes().size());
            const FakeBox& offer = FakeBoxes()[1];
            EXPECT_EQ(kDownloadText, offer.text);
            EXPECT_EQ(kDownloadCaption, offer.caption);
            EXPECT_EQ(0x10083u, offer.style);
            EXPECT_EQ("i", offer.iconName);
            EXPECT_TRUE(offer.isDesktopOwner);
            EXPECT_TRUE(CallNamesOf("Reg").empty());
            if (answer == kIdYes) {
                ASSERT_EQ(1u, FakeOpenedAddresses().size());
                EXPECT_EQ(kDownloadAddress, FakeOpenedAddresses()[0]);
                EXPECT_EQ("desktop \"open\" \"" + std::string(kDownloadAddress) + "\" null null show=1",
                          FakeCalls()[FakeCalls().size() - 2].detail);
            } else {
                EXPECT_TRUE(FakeOpenedAddresses().empty());
            }
        }
    }
}

TEST_F(Activation, RefusedWriteIsReportedAndLeavesNoKeyBehind) {
    FakeAddFile(kViewer64Path);
    FakeLockKey("SOFTWARE\\Classes\\AllFilesystemObjects\\shell");
    FakeSetValue("SOFTWARE\\Classes\\AllFilesystemObjects\\shell", "", "kept");
    std::string before = FakeRegistryDump();
    EXPECT_EQ(2, RunAnswering(kIdYes, "kompakto.exe /s"));
    EXPECT_EQ(kErrorCaption, LastCaption());
    EXPECT_EQ(kActivationFailedText, FakeBoxes().back().text);
    EXPECT_EQ(0x10010u, FakeBoxes().back().style);
    EXPECT_EQ(before, FakeRegistryDump());
}

TEST_F(Activation, FailedWriteTakesBackOnlyTheKeysItCreated) {
    FakeAddFile(kViewer64Path);
    FakeAddKey("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Other");
    std::string before = FakeRegistryDump();
    FakeQueueAnswer(kIdYes);
    FakeRun();
    int setValue = LastCallNumber("RegSetValueEx");
    FakeReset();
    FakeAddFile(kViewer64Path);
    FakeAddKey("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Other");
    FakeFailCall(setValue, false);
    EXPECT_EQ(2, RunAnswering(kIdYes));
    EXPECT_EQ(before, FakeRegistryDump());
    EXPECT_EQ((Names{"RegDeleteKey", "RegDeleteKey"}), CallNamesOf("RegDelete"));
}

TEST_F(Activation, FailedWriteKeepsTheEarlierCommand) {
    FakeAddFile(kViewer64Path);
    FakeSetValue(kVerbCommandKeyPath, "", "\"C:\\old\\i_view32.exe\" \"%1\"");
    std::string before = FakeRegistryDump();
    FakeQueueAnswer(kIdYes);
    FakeRun();
    int setValue = LastCallNumber("RegSetValueEx");
    ASSERT_GT(setValue, 0);
    FakeReset();
    FakeAddFile(kViewer64Path);
    FakeSetValue(kVerbCommandKeyPath, "", "\"C:\\old\\i_view32.exe\" \"%1\"");
    FakeFailCall(setValue, false);
    EXPECT_EQ(2, RunAnswering(kIdYes));
    EXPECT_EQ(before, FakeRegistryDump());
    EXPECT_TRUE(CallNamesOf("RegDelete").empty());
}

// Lengths of the viewer's path around the 512 characters a buffer holds.
class LongPath : public ::testing::TestWithParam<int> {};

TEST_P(LongPath, FitsWholeOrCountsAsNotFound) {
    int viewerLength = GetParam();
    const std::string name = "\\IrfanView\\I_view64.exe";
    std::string folder = "C:\\" + std::string(viewerLength - 3 - name.size(), 'p');
    std::string viewer = folder + name;
    ASSERT_EQ(static_cast<size_t>(viewerLength), viewer.size());
    FakeReset();
    FakeSetEnv("ProgramW6432", folder);
    FakeAddFile(viewer);
    FakeAddFile(viewer.substr(0, 512));
    FakeQueueAnswer(kIdYes);
    FakeQueueAnswer(kIdCancel);  // the download offer, if it comes
    FakeSetCommandLine("k /s");
    int code = FakeRun();
    if (viewerLength <= 512) {
        EXPECT_EQ(0, code);
        EXPECT_EQ(ExpectedCommand(viewer), StoredCommand());
        EXPECT_EQ(static_cast<size_t>(viewerLength + 102), StoredCommand().size());
    } else {
        EXPECT_EQ(1, code);
        EXPECT_FALSE(FakeKeyExists(kVerbKeyPath));
        for (const FakeCall& call : FakeCalls()) {
            if (call.op == "GetFileAttributes") {
                EXPECT_EQ(std::string::npos, call.detail.find("pppI")) << call.detail;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Edges, LongPath, ::testing::Values(100, 410, 411, 511, 512, 513, 514, 600, 4096));

// The expanded folder itself must fit into 512 characters with its zero.
TEST(Expansion, FolderOf511FitsAnd512DoesNot) {
    static char buffer[kPathSize];
    for (int length : {510, 511, 512, 513, 4096}) {
        FakeReset();
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
    EXPECT_TRUE(IsAbsoluteFolder("C:\\"));
    EXPECT_TRUE(IsAbsoluteFolder("z:\\x\\"));
    EXPECT_TRUE(IsAbsoluteFolder("\\\\srv\\share\\"));
    EXPECT_FALSE(IsAbsoluteFolder("C:"));
    EXPECT_FALSE(IsAbsoluteFolder("C:dir\\"));
    EXPECT_FALSE(IsAbsoluteFolder("\\dir\\"));
    EXPECT_FALSE(IsAbsoluteFolder("\\\\"));
    EXPECT_FALSE(IsAbsoluteFolder("\\\\\\x"));
    EXPECT_FALSE(IsAbsoluteFolder("%ProgramW6432%\\"));
    EXPECT_FALSE(IsAbsoluteFolder(""));
    EXPECT_FALSE(IsAbsoluteFolder("1:\\"));
}

class Deactivation : public ::testing::Test {
  protected:
    void SetUp() override { FakeReset(); }
};

TEST_F(Deactivation, RemovesBothVerbsAndNothingElse) {
    FakeSetValue(kVerbCommandKeyPath, "", "x");
    FakeSetValue(kFolderVerbCommandKeyPath, "", "y");
    FakeSetValue("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Unrelated\\command", "", "z");
    FakeAddKey("SOFTWARE\\Classes\\Directory\\shell\\Other");
    EXPECT_EQ(0, RunAnswering(kIdNo));
    EXPECT_FALSE(FakeKeyExists(kVerbKeyPath));
    EXPECT_FALSE(FakeKeyExists(kFolderVerbKeyPath));
    EXPECT_TRUE(FakeKeyExists("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Unrelated\\command"));
    EXPECT_TRUE(FakeKeyExists("SOFTWARE\\Classes\\Directory\\shell\\Other"));
    Names order;
    for (const FakeCall& call : FakeCalls()) {
        if (call.op == "RegDeleteKey") order.push_back(call.detail);
    }
    EXPECT_EQ((Names{"HKCU \"" + std::string(kVerbCommandKeyPath) + "\"", "HKCU \"" + std::string(kVerbKeyPath) + "\"",
                     "HKCU \"" + std::string(kFolderVerbCommandKeyPath) + "\"",
                     "HKCU \"" + std::string(kFolderVerbKeyPath) + "\""}),
              order);
    EXPECT_EQ(kDeactivatedText, FakeBoxes().back().text);
    EXPECT_TRUE(CallNamesOf("GetFileAttributes").empty());
    EXPECT_TRUE(CallNamesOf("Expand").empty());
}

TEST_F(Deactivation, NothingRegisteredIsStillDone) {
    EXPECT_EQ(0, RunAnswering(kIdNo));
    EXPECT_EQ(kDeactivatedText, FakeBoxes().back().text);
}

TEST_F(Deactivation, SilentShowsNoConfirmation) {
    FakeSetValue(kVerbCommandKeyPath, "", "x");
    EXPECT_EQ(0, RunAnswering(kIdNo, "kompakto.exe -S"));
    EXPECT_EQ(1u, FakeBoxes().size());
    EXPECT_FALSE(FakeKeyExists(kVerbKeyPath));
}

TEST_F(Deactivation, AVerbThatCannotBeDeletedIsReported) {
    FakeSetValue(kVerbCommandKeyPath, "", "x");
    FakeAddKey(std::string(kVerbKeyPath) + "\\DropTarget");
    FakeSetValue(kFolderVerbCommandKeyPath, "", "y");
    EXPECT_EQ(2, RunAnswering(kIdNo, "kompakto.exe /s"));
    EXPECT_EQ(kErrorCaption, LastCaption());
    EXPECT_EQ(kDeactivationFailedText, FakeBoxes().back().text);
    EXPECT_FALSE(FakeKeyExists(kFolderVerbKeyPath)) << "the other verb is still removed";
}

}  // namespace
