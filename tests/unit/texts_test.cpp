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
}

// The captions, keys, names and the command's tail, byte for byte.
TEST(Texts, TheProgramHoldsWhatItMust) {
    const std::pair<std::string, std::string> same[] = {
        {facts::kQuestionCaption, kQuestionCaption},
        {facts::kConfirmCaption, kConfirmCaption},
        {facts::kDownloadCaption, kDownloadCaption},
        {facts::kErrorCaption, kErrorCaption},
        {facts::kVerbCommandKey, kVerbCommandKey},
        {facts::kVerbKey, kVerbKey},
        {facts::kFolderVerbKey, kFolderVerbKey},
        {facts::kFolderVerbCommandKey, kFolderVerbCommandKey},
        {facts::kViewer64Name, kViewer64Name},
        {facts::kViewer32Name, kViewer32Name},
        {facts::kCommandTail, kCommandTail},
        {facts::kUninstallKey64, kUninstallKey64},
        {facts::kUninstallKey32, kUninstallKey32},
        {facts::kInstallLocation, kInstallLocationValue},
        {facts::kUninstallString, kUninstallStringValue},
        {facts::kProgram64, kProgram64},
        {facts::kProgram32, kProgram32},
        {std::string(facts::kScoopApp) + facts::kProgram64, kScoopProgram64},
        {std::string(facts::kScoopApp) + facts::kProgram32, kScoopProgram32},
        {std::string(facts::kScoopLeanApp) + facts::kProgram64, kScoopLeanProgram64},
        {std::string(facts::kScoopLeanApp) + facts::kProgram32, kScoopLeanProgram32},
        {facts::kScoopUserVariable, kScoopUserVariable},
        {facts::kScoopUserDefault, kScoopUserFallback},
        {facts::kScoopGlobalVariable, kScoopGlobalVariable},
        {facts::kScoopGlobalDefault, kScoopGlobalFallback},
    };
    for (const auto& pair : same) EXPECT_EQ(pair.first, pair.second);
    EXPECT_EQ(static_cast<size_t>(facts::kCommandTailLength), strlen(facts::kCommandTail));
    EXPECT_EQ(facts::kCommandTailLength, kCommandTailLength);
    EXPECT_NE(nullptr, strchr(kCommandTail, '\xD7'));
    std::string failed = ExpectedText("download failed");
    EXPECT_EQ(failed.substr(failed.rfind('\r') + 1), kDownloadAddress) << "the box names the page it failed to open";
    EXPECT_EQ(0, strncmp(kDownloadAddress, "https://", 8));
}

}  // namespace
