// The switch, the question and what each answer leads to.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup.h"
#include "app/texts.h"
#include "platform/fake/fake.h"
#include "support.h"

namespace {

std::string FirstArgumentOf(const std::string& commandLine) {
    static char argument[kArgumentSize];
    TakeFirstArgument(commandLine.c_str(), argument, kArgumentSize);
    return argument;
}

TEST(FirstArgument, WordsAreCutAtControlCharactersAndSpaces) {
    EXPECT_EQ("", FirstArgumentOf(""));
    EXPECT_EQ("", FirstArgumentOf("kompakto.exe"));
    EXPECT_EQ("", FirstArgumentOf("kompakto.exe   \t"));
    EXPECT_EQ("/s", FirstArgumentOf("kompakto.exe /s"));
    EXPECT_EQ("/x", FirstArgumentOf("kompakto.exe /x /s"));
    EXPECT_EQ("/x", FirstArgumentOf("  \t kompakto.exe\t/x\x01/s"));
    EXPECT_EQ("-S", FirstArgumentOf("kompakto.exe\x1F-S"));
    EXPECT_EQ("a\\b\\", FirstArgumentOf("k a\\b\\ c"));
}

TEST(FirstArgument, QuotesGroupAndVanish) {
    EXPECT_EQ("x s", FirstArgumentOf("kompakto.exe \"x s\""));
    EXPECT_EQ("/q", FirstArgumentOf("\"C:\\Program Files\\Kompakto\\kompakto.exe\" /q"));
    EXPECT_EQ("ab cd", FirstArgumentOf("k a\"b c\"d e"));
    EXPECT_EQ("tab\tin", FirstArgumentOf("k \"tab\tin\""));
    EXPECT_EQ("open to the end", FirstArgumentOf("k \"open to the end"));
}

TEST(FirstArgument, DoubledQuotesAddNothingAndKeepQuoting) {
    EXPECT_EQ("", FirstArgumentOf("kompakto.exe \"\" s"));
    EXPECT_EQ("ab", FirstArgumentOf("k a\"\"b c"));
    EXPECT_EQ("a b", FirstArgumentOf("k \"a\"\" b\" c"));
    EXPECT_EQ("x", FirstArgumentOf("k\"\" x"));  // the program's name ends at the space, quotes or not
}

TEST(FirstArgument, UnquotedProgramPathWithASpaceGivesTheRestOfThePath) {
    EXPECT_EQ("Files\\Kompakto\\kompakto.exe", FirstArgumentOf("C:\\Program Files\\Kompakto\\kompakto.exe"));
}

TEST(FirstArgument, EightBitCharactersAreTakenUnchanged) {
    EXPECT_EQ("\xFC\xD7\xA0", FirstArgumentOf("k \xFC\xD7\xA0 z"));
}

TEST(FirstArgument, LongestWindowsCommandLineIsNotCut) {
    std::string word(32000, 'x');
    word += 's';
    EXPECT_EQ(word, FirstArgumentOf("k " + word));
}

TEST(ContainsNoCase, FindsTheNeedleAnywhereIgnoringAsciiCase) {
    EXPECT_TRUE(ContainsNoCase("s", "s"));
    EXPECT_TRUE(ContainsNoCase("S", "s"));
    EXPECT_TRUE(ContainsNoCase("/silent", "S"));
    EXPECT_TRUE(ContainsNoCase("test", "s"));
    EXPECT_TRUE(ContainsNoCase("xxS", "s"));
    EXPECT_TRUE(ContainsNoCase("aBcAbC", "abc"));
    EXPECT_TRUE(ContainsNoCase("ababc", "abc"));
    EXPECT_FALSE(ContainsNoCase("", "s"));
    EXPECT_FALSE(ContainsNoCase("/q", "s"));
    EXPECT_FALSE(ContainsNoCase("ab", "abc"));
    EXPECT_FALSE(ContainsNoCase("abX", "abc"));
}

TEST(ContainsNoCase, OnlyAsciiLettersFoldCase) {
    EXPECT_FALSE(ContainsNoCase("\xDF", "s"));     // ß
    EXPECT_FALSE(ContainsNoCase("\x9A", "s"));     // š
    EXPECT_FALSE(ContainsNoCase("\xF3", "\xD3"));  // ó and Ó stay apart
    EXPECT_TRUE(ContainsNoCase("\xF3", "\xF3"));
    EXPECT_FALSE(ContainsNoCase("[", "{"));  // 0x5B and 0x7B are no letters
}

struct Launch {
    const char* commandLine;
    bool silent;
};

class Switch : public ::testing::TestWithParam<Launch> {};

// Yes with a viewer present: silent mode shows the question but no confirmation.
TEST_P(Switch, DecidesWhetherTheConfirmationIsShown) {
    FakeReset();
    FakeAddFile(kViewer64Path);
    FakeSetCommandLine(GetParam().commandLine);
    FakeQueueAnswer(kIdYes);
    EXPECT_EQ(facts::kExitDone, FakeRun());
    ASSERT_GE(FakeBoxes().size(), 1u);
    EXPECT_EQ(kQuestionCaption, FakeBoxes()[0].caption);
    EXPECT_EQ(GetParam().silent ? 1u : 2u, FakeBoxes().size());
    EXPECT_EQ(GetParam().silent, SilentMode);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Switch,
                         ::testing::Values(Launch{"kompakto.exe", false}, Launch{"kompakto.exe /S", true},
                                           Launch{"kompakto.exe -silent", true}, Launch{"kompakto.exe test", true},
                                           Launch{"kompakto.exe /q", false}, Launch{"kompakto.exe -x", false},
                                           Launch{"kompakto.exe /x /s", false}, Launch{"kompakto.exe \"x s\"", true},
                                           Launch{"kompakto.exe \"\" s", false},
                                           Launch{"C:\\Program Files\\Kompakto\\kompakto.exe", true},
                                           Launch{"\"C:\\Program Files\\Kompakto\\kompakto.exe\"", false}));

TEST(Question, AskedWithTheDesktopAsOwnerAndCancelAsDefault) {
    FakeReset();
    FakeQueueAnswer(kIdCancel);
    EXPECT_EQ(facts::kExitDone, FakeRun());
    ASSERT_EQ(1u, FakeBoxes().size());
    const FakeBox& box = FakeBoxes()[0];
    EXPECT_EQ("MessageBoxIndirect", box.via);
    EXPECT_TRUE(box.isDesktopOwner);
    EXPECT_EQ(kQuestionText, box.text);
    EXPECT_EQ(static_cast<uint32_t>(facts::kQuestionStyle), box.style);
    EXPECT_EQ("i", box.iconName);
}

TEST(Question, AnythingButYesOrNoChangesNothing) {
    for (int answer : {kIdCancel, kIdOk, 3, 42}) {
        FakeReset();
        FakeAddFile(kViewer64Path);
        FakeQueueAnswer(answer);
        std::string before = FakeRegistryDump();
        EXPECT_EQ(facts::kExitDone, FakeRun()) << answer;
        EXPECT_EQ(1u, FakeBoxes().size()) << answer;
        EXPECT_EQ(before, FakeRegistryDump()) << answer;
        EXPECT_TRUE(CallNamesOf("Reg").empty()) << answer;
    }
}

// No button at all: the box could not be shown (no desktop). That is no
// cancel: nothing changes, nothing else is tried, and the exit code says so.
TEST(Question, OneThatCannotBeShownEndsWithThree) {
    for (const char* commandLine : {"kompakto.exe", "kompakto.exe /s"}) {
        for (bool boxFails : {false, true}) {
            SCOPED_TRACE(std::string(commandLine) + (boxFails ? ", the box call fails" : ", the box gives 0"));
            FakeReset();
            FakeAddFile(kViewer64Path);
            FakeSetCommandLine(commandLine);
            if (boxFails) FakeFailOp(kOpMessageBoxIndirect, 1, 0);
            std::string before = FakeRegistryDump();
            EXPECT_EQ(facts::kExitQuestionNotShown, FakeRun());
            EXPECT_EQ(before, FakeRegistryDump());
            std::vector<std::string> names = CallNames();
            auto question = std::find(names.begin(), names.end(), "MessageBoxIndirect");
            ASSERT_NE(names.end(), question);
            EXPECT_EQ((std::vector<std::string>{"MessageBoxIndirect", "ExitProcess"}),
                      std::vector<std::string>(question, names.end()));
        }
    }
}

TEST(Question, YesActivatesAndNoDeactivates) {
    FakeReset();
    FakeAddFile(kViewer64Path);
    FakeQueueAnswer(kIdYes);
    EXPECT_EQ(facts::kExitDone, FakeRun());
    EXPECT_TRUE(FakeKeyExists(facts::kVerbCommandKey));

    FakeQueueAnswer(kIdNo);
    EXPECT_EQ(facts::kExitDone, FakeRun());
    EXPECT_FALSE(FakeKeyExists(facts::kVerbKey));
}

// On every Windows the question is asked; the program is DPI aware, the
// newest way Windows offers, before its first beep and box.
struct DpiCase {
    const char* name;
    bool user32Loadable;
    bool perMonitorExported;
    bool perMonitorRefused;
    bool systemWideExported;
    const char* awareness;
    int declarations;  // calls made to declare it
};

const DpiCase kDpiCases[] = {
    {"Windows 10 1703 and later: per monitor (v2)", true, true, false, true, "per-monitor-v2", 1},
    {"per monitor refused: system-wide", true, true, true, true, "system", 2},
    {"Vista to Windows 10 1607: system-wide", true, false, false, true, "system", 1},
    {"before Vista: unaware", true, false, false, false, "unaware", 0},
    {"user32 not loadable: unaware", false, true, false, true, "unaware", 0},
};

TEST(DpiAwareness, DeclaredBeforeTheFirstBoxTheNewestWayWindowsHasOrNot) {
    for (const DpiCase& c : kDpiCases) {
        SCOPED_TRACE(c.name);
        FakeReset();
        FakeSetUser32Loadable(c.user32Loadable);
        FakeSetDpiExports(c.perMonitorExported, c.systemWideExported);
        if (c.perMonitorRefused) FakeFailOp(kOpSetProcessDpiAwarenessContext, 1, 0);
        FakeQueueAnswer(kIdCancel);
        EXPECT_EQ(facts::kExitDone, FakeRun());
        EXPECT_EQ(c.awareness, FakeDpiAwareness());
        ASSERT_EQ(1u, FakeBoxes().size());
        EXPECT_EQ(kQuestionText, FakeBoxes()[0].text);
        EXPECT_EQ(0, FakeLoadedLibraries());
        // Every declaration is made before the question's beep.
        std::vector<std::string> calls = CallNames();
        auto beep = std::find(calls.begin(), calls.end(), "MessageBeep");
        EXPECT_EQ(c.declarations, std::count(calls.begin(), beep, "SetProcessDPIAware") +
                                      std::count(calls.begin(), beep, "SetProcessDpiAwarenessContext"));
        EXPECT_EQ(c.declarations, static_cast<int>(CallNamesOf("SetProcessD").size()));
    }
}

}  // namespace
