// The context-menu verb: the command line it runs for the viewer found (see
// shell/viewer.h), and writing and deleting the verb's keys under
// HKEY_CURRENT_USER. It decides
// and reports; talking to the user is the application's part.
#ifndef KOMPAKTO_CONTEXT_MENU_H
#define KOMPAKTO_CONTEXT_MENU_H

#include "platform/platform.h"
#include "shell/viewer.h"

// What the verb is and runs, byte for byte in Windows-1252.
// clang-format off
#define KOMPAKTO_VERB_KEY "SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)"
#define KOMPAKTO_FOLDER_VERB_KEY "SOFTWARE\\Classes\\Directory\\shell\\JPG-Web (IrfanView)"
constexpr char kVerbKey[] = KOMPAKTO_VERB_KEY;
constexpr char kVerbCommandKey[] = KOMPAKTO_VERB_KEY "\\command";
constexpr char kFolderVerbKey[] = KOMPAKTO_FOLDER_VERB_KEY;  // the older folder verb, removed when switching off
constexpr char kFolderVerbCommandKey[] = KOMPAKTO_FOLDER_VERB_KEY "\\command";
// Everything after the viewer's path: the quote that closes it, the selection
// (%1), every file of a selected folder, and the batch options of the viewer.
constexpr char kCommandTail[] =
    "\" \"%1\" \"%1\\*.*\" /silent /resize_long=1600 /aspectratio /resample /jpgq=70"
    " /convert=\"$N - ($W\xD7" "$H).jpg\"";
// clang-format on

constexpr int kCommandTailLength = sizeof(kCommandTail) - 1;
// The command is '"', the viewer's path and the tail: any path fits.
constexpr int kCommandSize = 1 + kPathSize + kCommandTailLength;

extern char CommandLine[kCommandSize];

// What came of switching the verb.
enum MenuOutcome {
    kSwitchedOn,
    kSwitchedOff,
    kNoViewer,  // no viewer found; nothing was written
    // The registry refused. Switching on: the keys it created are taken back
    // when the command could not be written; otherwise the command stays and
    // the verb stays hidden or diverted. Switching off: nothing was deleted,
    // unless Windows refused a delete after the look (an earlier one stays).
    kRefused,
};

// Activates (true) or deactivates (false) the verb.
MenuOutcome SetContextMenu(bool activate);

#endif
