// Every text the program shows or stores, in one place. All are Windows-1252,
// written with \x escapes so that no compiler or editor can change a byte;
// lines are separated by a single carriage return.
#ifndef KOMPAKTO_TEXTS_H
#define KOMPAKTO_TEXTS_H

extern const char kQuestionCaption[];
extern const char kQuestionText[];
extern const char kIconName[];

extern const char kConfirmCaption[];
extern const char kActivatedText[];
extern const char kDeactivatedText[];

extern const char kErrorCaption[];
extern const char kActivationFailedText[];
extern const char kDeactivationFailedText[];

extern const char kDownloadCaption[];
extern const char kDownloadText[];
extern const char kDownloadAddress[];
extern const char kDownloadFailedText[];

extern const char kTimeoutBoxLibrary[];
extern const char kTimeoutBoxProc[];

extern const char kProgramFilesFolder[];
extern const char kProgramW6432Folder[];
extern const char kViewer64Name[];
extern const char kViewer32Name[];

extern const char kVerbKey[];
extern const char kVerbCommandKey[];
extern const char kFolderVerbKey[];
extern const char kFolderVerbCommandKey[];

// What Explorer reads on a static verb besides its command, from Microsoft's
// shell documentation: the values of the verb key and of its command key and
// the sub keys of the verb key that change what the entry shows or runs.
// Switching on removes every entry that hides or diverts the verb, a sub key
// with everything below it, and keeps the rest: filters are the user's
// choice, decorations only change how the entry looks.
enum VerbEntryKind {
    kHides,      // never shown, or shown only to programs
    kDiverts,    // Explorer shows or runs something other than the command
    kFilters,    // shown only for some selections, or with Shift
    kDecorates,  // icon, text, position
};
enum VerbEntryPlace {
    kVerbValue,     // a value of the verb key
    kCommandValue,  // a value of its command key
    kVerbSubKey,    // a sub key of the verb key
};
struct VerbEntry {
    const char* name;
    VerbEntryPlace place;
    VerbEntryKind kind;
};
extern const VerbEntry kVerbEntries[];
extern const int kVerbEntryCount;

// Everything after the viewer's path: the quote that closes it, the selection
// (%1), every file of a selected folder, and the batch options of the viewer.
// In the header, so that its length is known where the command's buffer is.
// clang-format off
constexpr char kCommandTail[] =
    "\" \"%1\" \"%1\\*.*\" /silent /resize_long=1600 /aspectratio /resample /jpgq=70"
    " /convert=\"$N - ($W\xD7" "$H).jpg\"";
// clang-format on

#endif
