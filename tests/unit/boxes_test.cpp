// The question box with the program's icon and the self-closing report.
#include <gtest/gtest.h>

#include <stdio.h>

#include "app/boxes.h"
#include "platform/fake/fake.h"
#include "support.h"

namespace {

using Names = std::vector<std::string>;

TEST(IconBox, BeepsThenShowsTheOwnIconInFront) {
    FakeQueueAnswer(kIdNo);
    EXPECT_EQ(kIdNo, ShowIconBox(nullptr, "text", "caption", "i", 0x83));
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

TEST(IconBox, AFailedBoxAnswersZero) {
    FakeFailOp(kOpMessageBoxIndirect, 1, 0);
    EXPECT_EQ(0, ShowIconBox(nullptr, "t", "c", "i", 0x283));
}

TEST(TimedBox, UsesTheTimeOutBoxAndFreesUser32) {
    FakeQueueAnswer(kIdOk);
    EXPECT_EQ(kIdOk, ShowTimedBox(nullptr, "done", "Kompakto", 0x10040, 0, 5555));
    EXPECT_EQ((Names{"LoadLibrary", "GetProcAddress", "MessageBoxTimeout", "FreeLibrary"}), CallNamesOf());
    EXPECT_EQ("\"User32.dll\"", FakeCalls()[0].detail);
    ASSERT_EQ(1u, FakeBoxes().size());
    EXPECT_EQ(5555u, FakeBoxes()[0].timeoutMs);
    EXPECT_EQ(0x10040u, FakeBoxes()[0].style);
    EXPECT_EQ(0, FakeLoadedLibraries());
}

TEST(TimedBox, WithoutUser32ThePlainBoxShowsTheSameText) {
    FakeSetUser32Loadable(false);
    ShowTimedBox(nullptr, "done", "Kompakto", 0x10040, 0, 5555);
    EXPECT_EQ((Names{"LoadLibrary", "MessageBox"}), CallNamesOf());
    ASSERT_EQ(1u, FakeBoxes().size());
    EXPECT_EQ("done", FakeBoxes()[0].text);
    EXPECT_EQ("Kompakto", FakeBoxes()[0].caption);
    EXPECT_EQ(0x10040u, FakeBoxes()[0].style);
}

TEST(TimedBox, WithoutTheTimeOutFunctionThePlainBoxShowsAndUser32IsFreed) {
    FakeSetTimeoutBoxExported(false);
    ShowTimedBox(nullptr, "done", "Kompakto", 0x10040, 0, 5555);
    EXPECT_EQ((Names{"LoadLibrary", "GetProcAddress", "MessageBox", "FreeLibrary"}), CallNamesOf());
    ASSERT_EQ(1u, FakeBoxes().size());
    EXPECT_EQ("MessageBox", FakeBoxes()[0].via);
    EXPECT_EQ("done", FakeBoxes()[0].text);
    EXPECT_EQ(0, FakeLoadedLibraries());
}

}  // namespace
