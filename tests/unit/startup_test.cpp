// The switch, the question and what each answer leads to.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup.h"
#include "app/texts.h"
#include "fake/fake.h"
#include "support.h"

namespace {

struct Cut {
    const char* commandLine;
    const char* argument;
};

// clang-format off
const Cut kCuts[] = {
    // Words are cut at control characters and spaces.
    {"", ""}, {"kompakto.exe", ""}, {"kompakto.exe   \t", ""}, {"kompakto.exe /s", "/s"},
    {"kompakto.exe /x /s", "/x"}, {"  \t kompakto.exe\t/x\x01/s", "/x"}, {"kompakto.exe\x1F-S", "-S"},
    {"k a\\b\\ c", "a\\b\\"},
    // Quotes group and vanish.
    {"kompakto.exe \"x s\"", "x s"}, {"\"C:\\Program Files\\k.exe\" /q", "/q"}, {"k a\"b c\"d e", "ab cd"},
    {"k \"tab\tin\"", "tab\tin"}, {"k \"open to the end", "open to the end"},
    // A doubled quote adds nothing and keeps quoting; the program's name ends
    // at a space, quoted or not.
    {"kompakto.exe \"\" s", ""}, {"k a\"\"b c", "ab"}, {"k \"a\"\" b\" c", "a b"}, {"k\"\" x", "x"},
    {"C:\\Program Files\\k.exe", "Files\\k.exe"},
    // Eight-bit characters are taken unchanged.
    {"k \xFC\xD7\xA0 z", "\xFC\xD7\xA0"},
};
// clang-format on

TEST(FirstArgument, IsTheSecondWordAsTheRulesCutIt) {
    static char argument[kArgumentSize];
    for (const Cut& cut : kCuts) {
        TakeFirstArgument(cut.commandLine, argument, kArgumentSize);
        EXPECT_STREQ(cut.argument, argument) << ::testing::PrintToString(cut.commandLine);
    }
    // The longest command line Windows passes is not cut.
    std::string word(32000, 'x');
    word += 's';
    TakeFirstArgument(("k " + word).c_str(), argument, kArgumentSize);
    EXPECT_EQ(word, argument);
}

struct Search {
    const char* haystack;
    const char* needle;
    bool found;
};

// Only ASCII letters fold case: not ß, š, ó and Ó, nor 0x5B and 0x7B.
const Search kSearches[] = {{"s", "s", true},     {"S", "s", true},        {"/silent", "S", true}, {"test", "s", true},
                            {"xxS", "s", true},   {"aBcAbC", "abc", true}, {"ababc", "abc", true}, {"", "s", false},
                            {"/q", "s", false},   {"ab", "abc", false},    {"abX", "abc", false},  {"\xDF", "s", false},
                            {"\x9A", "s", false}, {"\xF3", "\xD3", false}, {"\xF3", "\xF3", true}, {"[", "{", false}};

TEST(ContainsNoCase, FindsTheNeedleAnywhereIgnoringAsciiCase) {
    for (const Search& s : kSearches) {
        EXPECT_EQ(s.found, ContainsNoCase(s.haystack, s.needle))
            << ::testing::PrintToString(s.haystack) << " / " << ::testing::PrintToString(s.needle);
    }
}

struct Launch {
    const char* commandLine;
    bool silent;
};

class Switch : public ::testing::TestWithParam<Launch> {};

// Yes with a viewer present: silent mode shows the question but no confirmation.
TEST_P(Switch, DecidesWhetherTheConfirmationIsShown) {
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes, GetParam().commandLine));
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

TEST(Question, AskedOfTheDesktopWithCancelAsDefaultAndAnythingButYesOrNoChangesNothing) {
    for (int answer : {win::kIdCancel, win::kIdOk, win::kIdAbort, 42}) {
        SCOPED_TRACE(answer);
        FakeReset();
        FakeAddFile(kViewer64Path);
        std::string before = FakeRegistryDump();
        EXPECT_EQ(facts::kExitDone, RunAnswering(answer));
        EXPECT_EQ(before, FakeRegistryDump());
        EXPECT_TRUE(CallNamesOf("Reg").empty());
        ASSERT_EQ(1u, FakeBoxes().size());
        const FakeBox& box = FakeBoxes()[0];
        EXPECT_EQ("MessageBoxIndirect", box.via);
        EXPECT_TRUE(box.isDesktopOwner);
        EXPECT_EQ(kQuestionText, box.text);
        EXPECT_EQ(static_cast<uint32_t>(facts::kQuestionStyle), box.style);
        EXPECT_EQ("i", box.iconName);
    }
}

// Nobody to see the question (a service's or a scheduled task's window
// station), or no button at all (the box could not be shown): that is no
// cancel. Nothing changes, nothing else is tried, and the exit code says so;
// where nobody can see it, not even the question is asked.
TEST(Question, OneThatCannotBeShownEndsWithThree) {
    enum Way { kStationHidden, kBoxGivesZero, kBoxCallFails };
    for (const char* commandLine : {"kompakto.exe", "kompakto.exe /s"}) {
        for (Way way : {kStationHidden, kBoxGivesZero, kBoxCallFails}) {
            SCOPED_TRACE(std::string(commandLine) + ", way " + std::to_string(way));
            FakeReset();
            FakeAddFile(kViewer64Path);
            if (way == kStationHidden) FakeHideWindowStation();
            if (way == kBoxCallFails) FakeFailOp(kOpMessageBoxIndirect, 1, 0);
            std::string before = FakeRegistryDump();
            EXPECT_EQ(facts::kExitQuestionNotShown, RunAnswering(0, commandLine));
            EXPECT_EQ(before, FakeRegistryDump());
            std::vector<std::string> names = CallNamesOf();
            if (way == kStationHidden) {
                EXPECT_EQ((std::vector<std::string>{"BoxesCanBeSeen", "ExitProcess"}), names);
                continue;
            }
            auto question = std::find(names.begin(), names.end(), "MessageBoxIndirect");
            ASSERT_NE(names.end(), question);
            EXPECT_EQ((std::vector<std::string>{"MessageBoxIndirect", "ExitProcess"}),
                      std::vector<std::string>(question, names.end()));
        }
    }
}

TEST(Question, YesActivatesAndNoDeactivates) {
    FakeAddFile(kViewer64Path);
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdYes));
    EXPECT_TRUE(FakeKeyExists(facts::kVerbCommandKey));
    EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdNo));
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
        if (c.perMonitorRefused) FakeFailOp(kOpCallSetProcessDpiAwarenessContext, 1, 0);
        EXPECT_EQ(facts::kExitDone, RunAnswering(win::kIdCancel));
        EXPECT_EQ(c.awareness, FakeDpiAwareness());
        ASSERT_EQ(1u, FakeBoxes().size());
        EXPECT_EQ(kQuestionText, FakeBoxes()[0].text);
        std::vector<std::string> calls = CallNamesOf();
        auto beep = std::find(calls.begin(), calls.end(), "MessageBeep");
        EXPECT_EQ(c.declarations, std::count(calls.begin(), beep, "CallSetProcessDpiAware") +
                                      std::count(calls.begin(), beep, "CallSetProcessDpiAwarenessContext"));
        EXPECT_EQ(c.declarations, static_cast<int>(CallNamesOf("CallSetProcessD").size()));
    }
}

}  // namespace
