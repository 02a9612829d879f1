// The question box with the program's icon and the self-closing report.
#include <gtest/gtest.h>

#include <stdio.h>

#include "app/boxes.h"
#include "fake/fake.h"
#include "support.h"

namespace {

using Names = std::vector<std::string>;

TEST(IconBox, BeepsThenShowsTheOwnIconInFront) {
    FakeQueueAnswer(win::kIdNo);
    EXPECT_EQ(win::kIdNo, ShowIconBox(nullptr, "text", "caption", "i", 0x83));
    EXPECT_EQ((Names{"GetModuleHandle", "MessageBeep", "MessageBoxIndirect"}), CallNamesOf());
    char beep[16];
    snprintf(beep, sizeof beep, "0x%X", facts::kQuestionBeep);
    EXPECT_EQ(beep, FakeCalls()[1].detail);
    ASSERT_EQ(1u, FakeBoxes().size());
    const FakeBox& box = FakeBoxes()[0];
    EXPECT_TRUE(box.hasInstance);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ("text", box.text);
    EXPECT_EQ("caption", box.caption);
    EXPECT_EQ(0x10083u, box.style);
    EXPECT_EQ("i", box.iconName);
}

// The time-out box where user32 has it; otherwise the plain box shows the
// same text. A user32 that was loaded is freed.
TEST(TimedBox, UsesTheTimeOutBoxWhereUser32HasIt) {
    struct Windows {
        bool user32Loadable;
        bool timeoutBoxExported;
        Names calls;
        std::string via;  // the box shown
    };
    const Windows windows[] = {
        {true,
         true,
         {"LoadLibrary", "GetProcAddress", "CallMessageBoxTimeout", "FreeLibrary"},
         "CallMessageBoxTimeout"},
        {false, true, {"LoadLibrary", "MessageBox"}, "MessageBox"},
        {true, false, {"LoadLibrary", "GetProcAddress", "MessageBox", "FreeLibrary"}, "MessageBox"},
    };
    for (const Windows& w : windows) {
        FakeReset();
        FakeSetUser32Loadable(w.user32Loadable);
        FakeSetTimeoutBoxExported(w.timeoutBoxExported);
        FakeQueueAnswer(win::kIdOk);
        EXPECT_EQ(win::kIdOk, ShowTimedBox(nullptr, "done", "Kompakto", 0x10040, 0x807, 5555));
        EXPECT_EQ(w.calls, CallNamesOf());
        EXPECT_EQ("\"User32.dll\"", FakeCalls()[0].detail);
        ASSERT_EQ(1u, FakeBoxes().size());
        const FakeBox& box = FakeBoxes()[0];
        EXPECT_EQ(w.via, box.via);
        EXPECT_EQ(w.via == "CallMessageBoxTimeout" ? 5555u : 0u, box.timeoutMs);
        EXPECT_EQ(w.via == "CallMessageBoxTimeout" ? 0x807u : 0u, box.language);
        EXPECT_EQ("done", box.text);
        EXPECT_EQ("Kompakto", box.caption);
        EXPECT_EQ(0x10040u, box.style);
        EXPECT_EQ("", FakeLeftOpen());
    }
}

}  // namespace
