// The texts, byte for byte, against tests/texts.txt and tests/facts.h.
#include <gtest/gtest.h>

#include <string.h>

#include "app/texts.h"
#include "shell/context_menu.h"
#include "support.h"

namespace {

struct Text {
    const char* name;  // in texts.txt
    const char* text;  // the program's
    bool failure;
};

const Text kTexts[] = {
    {"question", kQuestionText, false},
    {"activated", kActivatedText, false},
    {"deactivated", kDeactivatedText, false},
    {"download offer", kDownloadText, false},
    {"activation failed", kActivationFailedText, true},
    {"deactivation failed", kDeactivationFailedText, true},
    {"download failed", kDownloadFailedText, true},
};

TEST(Texts, EveryBoxSaysExactlyWhatItMust) {
    for (const Text& t : kTexts) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(ExpectedText(t.name), t.text);
        size_t length = strlen(t.text);
        EXPECT_EQ(nullptr, strchr(t.text, '\n'));
        EXPECT_NE('\r', t.text[0]);
        EXPECT_NE('\r', t.text[length - 1]);
        EXPECT_EQ(t.failure, strstr(t.text, "konnte nicht") != nullptr);
        if (t.failure) {
            EXPECT_EQ(nullptr, strstr(t.text, "wurde")) << "a failure never says done";
        }
    }
    EXPECT_EQ(427u, strlen(kQuestionText));
}

TEST(Texts, CaptionsAndTheDownloadPage) {
    EXPECT_STREQ(facts::kQuestionCaption, kQuestionCaption);
    EXPECT_STREQ(facts::kConfirmCaption, kConfirmCaption);
    EXPECT_STREQ(facts::kDownloadCaption, kDownloadCaption);
    EXPECT_STREQ(facts::kErrorCaption, kErrorCaption);
    std::string failed = ExpectedText("download failed");
    EXPECT_EQ(failed.substr(failed.rfind('\r') + 1), kDownloadAddress) << "the box names the page it failed to open";
    EXPECT_EQ(0, strncmp(kDownloadAddress, "https://", 8));
}

TEST(Texts, CommandTailIs101CharactersWithTheMultiplicationSign) {
    EXPECT_STREQ(facts::kCommandTail, kCommandTail);
    EXPECT_EQ(static_cast<size_t>(facts::kCommandTailLength), strlen(facts::kCommandTail));
    EXPECT_EQ(facts::kCommandTailLength, kCommandTailLength);
    EXPECT_NE(nullptr, strchr(kCommandTail, '\xD7'));
}

TEST(Texts, KeysAndViewerNames) {
    EXPECT_STREQ(facts::kVerbCommandKey, kVerbCommandKey);
    EXPECT_STREQ(facts::kVerbKey, kVerbKey);
    EXPECT_STREQ(facts::kFolderVerbKey, kFolderVerbKey);
    EXPECT_STREQ(facts::kFolderVerbCommandKey, kFolderVerbCommandKey);
    EXPECT_STREQ(facts::kViewer64Name, kViewer64Name);
    EXPECT_STREQ(facts::kViewer32Name, kViewer32Name);
}

}  // namespace
