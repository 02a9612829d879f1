// The texts, byte for byte: written here in readable UTF-8, compared with the
// program's Windows-1252 constants.
#include <gtest/gtest.h>

#include <string.h>

#include "app/texts.h"
#include "shell/context_menu.h"
#include "support.h"

namespace {

const std::vector<std::string> kMenuDescription = {
    "Kontextmenü Shrink JPG (IrfanView):",
    "",
    "Vorhandene Bilder werden auf die Länge 1600px",
    "reduziert und als «Dateiname - (1600×Höhe).jpg»",
    "mit der Kompressionsstufe 70% gespeichert.",
    "",
    "Die reduzierten JPGs sind optimiert für die Ver-",
    "wendung im Web.",
    "",
    "(Installierter IrfanView Bildbetrachter erforderlich)",
    "-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-",
};

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(Texts, QuestionIsTheDescriptionAndTheChoiceIn427Characters) {
    std::string expected =
        Cp1252(JoinLines(With(kMenuDescription, {
                                                    "",
                                                    "Kontextmenü «Shrink JPG (IrfanView)» aktivieren?",
                                                    "",
                                                    "[Ja]\tAktivieren",
                                                    "[Nein]\tDeaktivieren",
                                                })));
    EXPECT_EQ(expected, kQuestionText);
    EXPECT_EQ(427u, strlen(kQuestionText));
    EXPECT_STREQ("Kompakto 1.1.0.0", kQuestionCaption);
}

TEST(Texts, ConfirmationsCarryTheVersionAndTheOutcome) {
    std::string header = "Kompakto v1.1.0.0\rFreeware \xA9 2026 Kompakto-Team\r";
    EXPECT_EQ(header + Cp1252(JoinLines(With({""}, With(kMenuDescription,
                                                        {
                                                            "Das Kontextmenü «Shrink JPG (IrfanView)»",
                                                            "wurde aktiviert.",
                                                        })))),
              kActivatedText);
    EXPECT_EQ(header + Cp1252(JoinLines({
                           "-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-",
                           "Das Kontextmenü «Shrink JPG (IrfanView)»",
                           "wurde deaktiviert.",
                       })),
              kDeactivatedText);
    EXPECT_STREQ("Kompakto", kConfirmCaption);
}

TEST(Texts, FailuresNeverSayDone) {
    for (const char* text : {kActivationFailedText, kDeactivationFailedText}) {
        EXPECT_EQ(nullptr, strstr(text, "wurde")) << text;
        EXPECT_NE(nullptr, strstr(text, "konnte nicht")) << text;
    }
    EXPECT_EQ(Cp1252("läss"), std::string(strstr(kActivationFailedText, "l\xE4"), 4));
    EXPECT_NE(nullptr, strstr(kDeactivationFailedText, Cp1252("löschen.").c_str()));
}

TEST(Texts, DownloadOfferAsked) {
    EXPECT_EQ(JoinLines({
                  "Kompakto 1.1.0.0 erfordert die Installation",
                  "von IrfanView (Bildbetrachter/konverter).",
                  "",
                  "Kompakto nach erfolgter Installation erneut starten.",
                  "",
                  "IrfanView (32-Bit oder 64-Bit) jetzt herunterladen?",
              }),
              kDownloadText);
    EXPECT_STREQ("Kompakto: IrfanView nicht gefunden", kDownloadCaption);
    EXPECT_EQ(0, strncmp(kDownloadAddress, "https://", 8));
}

TEST(Texts, NoLineFeedAndNoClosingCarriageReturn) {
    for (const char* text : {kQuestionText, kActivatedText, kDeactivatedText, kActivationFailedText,
                             kDeactivationFailedText, kDownloadText}) {
        size_t length = strlen(text);
        EXPECT_EQ(nullptr, strchr(text, '\n')) << text;
        EXPECT_NE('\r', text[length - 1]) << text;
        EXPECT_NE('\r', text[0]) << text;
    }
}

TEST(Texts, CommandTailIs101CharactersWithTheMultiplicationSign) {
    EXPECT_EQ(static_cast<size_t>(kCommandTailLength), strlen(kCommandTail));
    EXPECT_EQ(Cp1252("\" \"%1\" \"%1\\*.*\" /silent /resize_long=1600 /aspectratio /resample /jpgq=70 "
                     "/convert=\"$N - ($W×$H).jpg\""),
              kCommandTail);
    EXPECT_NE(nullptr, strchr(kCommandTail, '\xD7'));
}

TEST(Texts, KeysAndViewerNames) {
    EXPECT_STREQ(kVerbCommandKeyPath, kVerbCommandKey);
    EXPECT_STREQ(kVerbKeyPath, kVerbKey);
    EXPECT_STREQ(kFolderVerbKeyPath, kFolderVerbKey);
    EXPECT_STREQ(kFolderVerbCommandKeyPath, kFolderVerbCommandKey);
    EXPECT_STREQ("IrfanView\\I_view64.exe", kViewer64Name);
    EXPECT_STREQ("IrfanView\\I_view32.exe", kViewer32Name);
}

}  // namespace
