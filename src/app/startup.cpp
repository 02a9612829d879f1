#include "app/startup.h"

#include "app/boxes.h"
#include "app/texts.h"
#include "shell/context_menu.h"

bool SilentMode = false;
char FirstArgument[kArgumentSize];

static unsigned char UpperAscii(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

bool ContainsNoCase(const char* haystack, const char* needle) {
    int n = TextLength(needle);
    for (int i = 0; haystack[i]; i++) {
        int j = 0;
        while (j < n && haystack[i + j] && UpperAscii(haystack[i + j]) == UpperAscii(needle[j])) {
            j++;
        }
        if (j == n) {
            return true;
        }
    }
    return false;
}

static bool IsSeparator(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

// Reads one word starting at text into word (cut to wordSize - 1 characters)
// and returns where the word ends. A double quote switches quoting; two in a
// row add nothing and leave quoting as it was.
static const char* ReadWord(const char* text, char* word, int wordSize) {
    bool quoted = false;
    int length = 0;
    while (*text && (quoted || !IsSeparator(*text))) {
        if (text[0] == '"' && text[1] == '"') {
            text += 2;
        } else if (text[0] == '"') {
            quoted = !quoted;
            text++;
        } else {
            if (length < wordSize - 1) {
                word[length++] = *text;
            }
            text++;
        }
    }
    word[length] = '\0';
    return text;
}

static const char* SkipSeparators(const char* text) {
    while (IsSeparator(*text)) {
        text++;
    }
    return text;
}

void TakeFirstArgument(const char* commandLine, char* argument, int argumentSize) {
    argument[0] = '\0';
    const char* rest = SkipSeparators(commandLine);
    if (!*rest) {
        return;
    }
    rest = SkipSeparators(ReadWord(rest, argument, argumentSize));  // the program's name
    argument[0] = '\0';
    if (*rest) {
        ReadWord(rest, argument, argumentSize);
    }
}

static void Confirm(const char* text) {
    if (!SilentMode) {
        ShowTimedBox(nullptr, text, kConfirmCaption, kConfirmStyle, 0, kConfirmTimeoutMs);
    }
}

// A page that cannot be opened is told, with its address to type by hand.
static void OfferDownload() {
    if (ShowIconBox(OsGetDesktopWindow(), kDownloadText, kDownloadCaption, kIconName, kDownloadStyle) == kIdYes &&
        OsOpenPage(kDownloadAddress) <= kShellExecuteLastError) {
        OsMessageBox(nullptr, kDownloadFailedText, kErrorCaption, kErrorStyle);
    }
}

// Tells the user what came of switching and returns the exit code. A missing
// viewer and a refusal are told in silent mode too.
static unsigned TellOutcome(bool activate, MenuOutcome outcome) {
    switch (outcome) {
        case kSwitchedOn:
            Confirm(kActivatedText);
            return kExitDone;
        case kSwitchedOff:
            Confirm(kDeactivatedText);
            return kExitDone;
        case kNoViewer:
            OfferDownload();
            return kExitNoViewer;
        case kRefused:
            break;
    }
    OsMessageBox(nullptr, activate ? kActivationFailedText : kDeactivationFailedText, kErrorCaption, kErrorStyle);
    return kExitRegistryFailed;
}

void RunKompakto() {
    // Where nobody can see a box, the question would wait for ever: nothing
    // is shown, asked or changed.
    if (!OsBoxesCanBeSeen()) {
        OsExitProcess(kExitQuestionNotShown);
    }
    DeclareDpiAware();
    SilentMode = false;
    TakeFirstArgument(OsGetCommandLine(), FirstArgument, kArgumentSize);
    if (ContainsNoCase(FirstArgument, "s")) {
        SilentMode = true;
    }
    int answer = ShowIconBox(OsGetDesktopWindow(), kQuestionText, kQuestionCaption, kIconName, kQuestionStyle);
    if (answer == 0) {
        // No button at all: the box could not be shown (no interactive
        // desktop, as for a scheduled task), so no other box can be either.
        OsExitProcess(kExitQuestionNotShown);
    }
    if (answer == kIdYes || answer == kIdNo) {
        bool activate = answer == kIdYes;
        OsExitProcess(TellOutcome(activate, SetContextMenu(activate)));
    }
    OsExitProcess(kExitDone);
}
