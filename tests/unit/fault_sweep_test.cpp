// Every scenario, run once for every call that can fail: the first call fails,
// then the second, and so on; and once more with every call failing from that
// point on. Whatever fails, the user is never told of a change that did not
// happen, no verb is left half-written, and the exit code tells the outcome.
// Each planted failure must be met, every operation of the fake must be
// failed, and the sweep must see failures change what happens: a fake that
// failed nothing would not pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "app/texts.h"
#include "fake/fake.h"
#include "support.h"

namespace {

struct Scenario {
    const char* name;
    bool silent;
    int viewers;  // 0 none, 32 the 32-bit one, 64 both, kByEntry the 64-bit one found by its uninstall entry
    std::vector<int> answers;
    bool verbsPresent;
    bool foreignSubKey;               // another program's key under the verb: deactivation must refuse
    bool hidden;                      // hiding and diverting entries on the verb, beside entries that stay
    const char* lockedKey = nullptr;  // refuses the change, unlike any failed call
};

constexpr int kByEntry = 1;
const std::string kEntryFolder = "D:\\Tools\\IrfanView";
const std::string kEntryViewerPath = kEntryFolder + "\\" + facts::kProgram64;

void Prepare(const Scenario& s) {
    FakeReset();
    FakeSetCommandLine(s.silent ? "kompakto.exe /s" : "kompakto.exe");
    FakeSetDpiExports(!s.silent, true);  // the silent runs are on a Windows before 10 1703
    if (s.viewers >= 32) FakeAddFile(kViewer32Path);
    if (s.viewers == 64) FakeAddFile(kViewer64Path);
    if (s.viewers == kByEntry) {
        // Either value leads to it: a read refused passes over to the next.
        const std::string entry = FakeMachineKey(kRegistryView64, facts::kUninstallKey64);
        FakeSetValue(entry, facts::kInstallLocation, kEntryFolder);
        FakeSetValue(entry, facts::kUninstallString, kEntryFolder + "\\iv_uninstall.exe");
        FakeAddFile(kEntryViewerPath);
    }
    if (s.verbsPresent) {
        FakeSetValue(facts::kVerbCommandKey, "", "\"C:\\old\\i_view32.exe\" \"%1\"");
        FakeSetValue(facts::kFolderVerbCommandKey, "", "\"C:\\old\\i_view32.exe\" \"%1\"");
        FakeSetValue("SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Unrelated\\command", "", "u");
    }
    if (s.foreignSubKey) FakeAddKey(std::string(facts::kVerbKey) + "\\extra");
    if (s.hidden) {
        FakeSetValue(facts::kVerbKey, FakeNames(facts::kVerbHidingValues)[0], "");
        FakeSetValue(facts::kVerbKey, FakeNames(facts::kVerbDivertingValues)[0], "{0}");
        FakeSetValue(facts::kVerbKey, FakeNames(facts::kVerbFilteringValues)[0], "kept");
        FakeSetValue(facts::kVerbKey, FakeNames(facts::kVerbDecoratingValues)[0], "kept");
        FakeSetValue(facts::kVerbCommandKey, FakeNames(facts::kCommandDivertingValues)[0], "{0}");
        FakeSetValue(std::string(facts::kVerbKey) + "\\" + FakeNames(facts::kVerbDivertingSubKeys)[0] + "\\inner", "",
                     "{0}");
    }
    if (s.lockedKey) FakeLockKey(s.lockedKey);
    for (int answer : s.answers) FakeQueueAnswer(answer);
}

bool Shown(const char* text) {
    return std::any_of(FakeBoxes().begin(), FakeBoxes().end(), [text](const FakeBox& box) { return box.text == text; });
}

bool Called(const std::string& op, bool failed) {
    const std::vector<FakeCall>& calls = FakeCalls();
    return std::any_of(calls.begin(), calls.end(), [&](const FakeCall& c) { return c.op == op && c.failed == failed; });
}

// Deactivation looks at every key before it deletes one, and a delete that
// fails stops the rest.
bool DeletedOutOfTurn() {
    bool deleting = false, refused = false;
    for (const FakeCall& call : FakeCalls()) {
        if ((deleting && (call.op == "RegOpenKeyEx" || call.op == "RegQueryInfoKey")) ||
            (refused && call.op == "RegDeleteKey")) {
            return true;
        }
        deleting = deleting || call.op == "RegDeleteKey";
        refused = refused || (call.op == "RegDeleteKey" && call.failed);
    }
    return false;
}

bool FailedCallFollows(const std::string& op, const std::string& next) {
    const std::vector<FakeCall>& calls = FakeCalls();
    for (size_t i = 0; i + 1 < calls.size(); i++) {
        if (calls[i].op == op && calls[i].failed && calls[i + 1].op == next && !calls[i + 1].failed) return true;
    }
    return false;
}

// A registry where whichever viewer was found stands in the command: when the
// search for the 64-bit viewer fails, the 32-bit one is a sound choice too.
std::string AnyViewer(std::string dump) {
    for (const std::string& viewer : {kViewer64Path, kViewer32Path, kEntryViewerPath}) {
        for (size_t at = dump.find(viewer); at != std::string::npos; at = dump.find(viewer)) {
            dump.replace(at, viewer.size(), "<viewer>");
        }
    }
    return dump;
}

void CheckRun(const Scenario& s, const std::string& before, const std::string& done, const FakeEnd& end,
              const std::string& where) {
    SCOPED_TRACE(std::string(s.name) + where);
    const int code = end.code;
    std::string after = AnyViewer(FakeRegistryDump());
    bool verbGone = !FakeKeyExists(facts::kVerbKey) && !FakeKeyExists(facts::kFolderVerbKey);
    ASSERT_TRUE(code >= facts::kExitDone && code <= facts::kExitQuestionNotShown) << code;
    EXPECT_EQ("", end.leftOpen);

    if (Shown(kActivatedText)) {
        EXPECT_NE("", FakeExplorerCommand(facts::kVerbKey)) << "confirmed an entry that Explorer does not show";
        EXPECT_EQ(facts::kExitDone, code);
    }
    if (Shown(kDeactivatedText)) {
        EXPECT_TRUE(verbGone) << "confirmed a deactivation that did not happen";
        EXPECT_EQ(facts::kExitDone, code);
    }
    if (code == facts::kExitDone) {
        EXPECT_EQ(done, after) << "done, but not as asked";
    }
    if (code == facts::kExitQuestionNotShown) {
        EXPECT_TRUE(Called("MessageBoxIndirect", true));
        EXPECT_TRUE(FakeBoxes().empty()) << "a box after a question that could not be shown";
        EXPECT_TRUE(CallNamesOf("Reg").empty());
    }
    if (code == facts::kExitNoViewer) {
        EXPECT_EQ(before, after);
        EXPECT_TRUE(s.answers[0] == win::kIdYes);
    }
    if (code == facts::kExitRegistryFailed) {
        EXPECT_TRUE(Called("MessageBox", false) || Called("MessageBox", true)) << "failure not told";
        EXPECT_FALSE(Shown(kActivatedText) || Shown(kDeactivatedText));
        // Only a delete that Windows refused, or a value that hides the verb
        // and stays after its command was written, can leave a change behind.
        if (!Called("RegDeleteKey", true) && !Called("RegSetValueEx", false)) {
            EXPECT_EQ(before, after);
        }
    }
    if (s.answers[0] == win::kIdNo) {
        EXPECT_FALSE(DeletedOutOfTurn());
    }
    if (Called("OpenPage", true)) {
        EXPECT_TRUE(Called("MessageBox", false) || Called("MessageBox", true)) << "a page not opened was not told";
    }
    // The plain box stands in for the time-out box with the same text.
    if (FailedCallFollows("LoadLibrary", "MessageBox") || FailedCallFollows("GetProcAddress", "MessageBox")) {
        ASSERT_FALSE(FakeBoxes().empty());
        EXPECT_EQ("MessageBox", FakeBoxes().back().via);
        EXPECT_TRUE(FakeBoxes().back().text == kActivatedText || FakeBoxes().back().text == kDeactivatedText);
    }
}

// clang-format off
const Scenario kScenarios[] = {
    {"activate, both viewers", false, 64, {win::kIdYes, win::kIdOk}, false, false, false},
    {"activate silently, both viewers", true, 64, {win::kIdYes}, false, false, false},
    {"activate, 32-bit viewer, over an old verb", false, 32, {win::kIdYes, win::kIdOk}, true, false, false},
    {"activate silently, 32-bit viewer", true, 32, {win::kIdYes}, false, false, false},
    {"activate, the viewer found by its uninstall entry", false, kByEntry,
     {win::kIdYes, win::kIdOk}, true, false, false},
    {"no viewer, download taken", false, 0, {win::kIdYes, win::kIdYes}, false, false, false},
    {"no viewer, download declined silently", true, 0, {win::kIdYes, win::kIdNo}, false, false, false},
    {"no viewer, download cancelled", false, 0, {win::kIdYes, win::kIdCancel}, true, false, false},
    {"deactivate", false, 64, {win::kIdNo, win::kIdOk}, true, false, false},
    {"deactivate silently", true, 64, {win::kIdNo}, true, false, false},
    {"deactivate with nothing there", false, 0, {win::kIdNo, win::kIdOk}, false, false, false},
    {"deactivate beside another program's key", false, 0, {win::kIdNo, win::kIdOk}, true, true, false},
    {"cancel", false, 64, {win::kIdCancel}, true, false, false},
    {"cancel silently", true, 0, {win::kIdCancel}, false, false, false},
    {"activate a verb a menu cleaner hid and other programs diverted", false, 64,
     {win::kIdYes, win::kIdOk}, true, false, true},
    {"activate below a key the user may only read", false, 64, {win::kIdYes}, false, false, false, "SOFTWARE\\Classes"},
    {"deactivate a verb the user may only read", false, 64,
     {win::kIdNo, win::kIdOk}, true, false, false, facts::kFolderVerbKey},
};
// clang-format on

// What a run came to: its exit code, the registry and the boxes shown.
std::string Outcome(int code) {
    std::string outcome = std::to_string(code) + "\n" + AnyViewer(FakeRegistryDump());
    for (const FakeBox& box : FakeBoxes()) outcome += box.caption + "\n";
    return outcome;
}

// How a call that fails alone, every other call as without failures, must
// end, by its operation: a refused registry operation is told (exit code 2
// and the error box), and a failed close, unload, beep, exit, DPI
// declaration or look at the window station is not seen at all. A refused
// read of the viewer's uninstall entries passes that place over: the run
// ends as without the failure, or finds no viewer. A failure of any other
// operation, and every failure from some call on, is held to the rules of
// CheckRun only.
enum FailureEnd { kTold, kUnseen };
// clang-format off
const std::map<std::string, FailureEnd> kFailureEnds = {
    {"RegCreateKey", kTold}, {"RegOpenKeyEx", kTold},  {"RegQueryInfoKey", kTold}, {"RegQueryValueEx", kTold},
    {"RegSetValueEx", kTold},  {"RegDeleteKey", kTold},  {"RegDeleteTree", kTold},   {"RegDeleteValue", kTold},
    {"RegCloseKey", kUnseen},  {"FreeLibrary", kUnseen}, {"MessageBeep", kUnseen},   {"ExitProcess", kUnseen},
    {"CallSetProcessDpiAwarenessContext", kUnseen},      {"CallSetProcessDpiAware", kUnseen},
    {"BoxesCanBeSeen", kUnseen},
};
// clang-format on

TEST(FaultSweep, EveryFailurePointOfEveryScenario) {
    std::set<std::string> failedAlone, failedOnward;  // the operations failed
    for (const Scenario& s : kScenarios) {
        Prepare(s);
        std::string before = FakeRegistryDump();
        FakeEnd clean = FakeRun();
        std::string done = AnyViewer(FakeRegistryDump());
        std::string cleanOutcome = Outcome(clean.code);
        int calls = static_cast<int>(FakeCalls().size());
        CheckRun(s, before, done, clean, " without failures");
        EXPECT_EQ(s.foreignSubKey || s.lockedKey, clean.code == facts::kExitRegistryFailed) << s.name;
        int changed = 0;
        for (int failAt = 1; failAt <= calls; failAt++) {
            for (bool fromThereOn : {false, true}) {
                Prepare(s);
                FakeFailCall(failAt, fromThereOn);
                FakeEnd run = FakeRun();
                const int code = run.code;
                ASSERT_GE(FakeCalls().size(), static_cast<size_t>(failAt)) << s.name << ": the run went another way";
                const FakeCall planted = FakeCalls()[failAt - 1];
                EXPECT_TRUE(planted.failed) << s.name << ": call " << failAt << " (" << planted.op << ") did not fail";
                std::string where = ", call " + std::to_string(failAt) + (fromThereOn ? " and every later call" : "") +
                                    " (" + planted.op + ") failing";
                CheckRun(s, before, done, run, where);
                changed += Outcome(code) != cleanOutcome;
                (fromThereOn ? failedOnward : failedAlone).insert(planted.op);
                auto end = kFailureEnds.find(planted.op);
                if (!fromThereOn && ReadsTheViewersEntries(planted)) {
                    EXPECT_TRUE(Outcome(code) == cleanOutcome || code == facts::kExitNoViewer) << s.name << where;
                    continue;
                }
                if (fromThereOn || end == kFailureEnds.end()) continue;
                if (end->second == kTold) {
                    EXPECT_EQ(facts::kExitRegistryFailed, code) << s.name << where;
                    const char* told = s.answers[0] == win::kIdYes ? kActivationFailedText : kDeactivationFailedText;
                    EXPECT_TRUE(!FakeBoxes().empty() && FakeBoxes().back().text == told) << s.name << where;
                } else {
                    EXPECT_EQ(cleanOutcome, Outcome(code)) << s.name << where;
                }
            }
        }
        EXPECT_GT(changed, 0) << s.name << ": no failure changed what happened";
    }
    EXPECT_EQ(static_cast<size_t>(kOpCount), failedAlone.size()) << ::testing::PrintToString(failedAlone);
    EXPECT_EQ(static_cast<size_t>(kOpCount), failedOnward.size()) << ::testing::PrintToString(failedOnward);
}

}  // namespace
