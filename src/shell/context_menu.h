// The context-menu verb: finding the viewer, the command line it runs, and
// writing and deleting the verb's keys under HKEY_CURRENT_USER.
#ifndef KOMPAKTO_CONTEXT_MENU_H
#define KOMPAKTO_CONTEXT_MENU_H

#include "app/texts.h"
#include "platform/platform.h"

constexpr int kPathSize = 513;  // 512 characters and the terminating zero
constexpr uint32_t kExpandSize = 512;
constexpr int kCommandTailLength = sizeof(kCommandTail) - 1;
// The command is '"', the viewer's path and the tail: any path fits.
constexpr int kCommandSize = 1 + kPathSize + kCommandTailLength;

constexpr unsigned kExitDone = 0;
constexpr unsigned kExitNoViewer = 1;
constexpr unsigned kExitRegistryFailed = 2;
constexpr unsigned kExitQuestionNotShown = 3;  // no desktop to show it on; nothing changed

extern char ProgramFilesPath[kPathSize];
extern char ProgramW6432Path[kPathSize];
extern char ViewerPath[kPathSize];
extern char CommandLine[kCommandSize];

// Activates (true) or deactivates (false) the verb and confirms it unless
// SilentMode is set. Ends the process with kExitNoViewer when the viewer is
// missing and with kExitRegistryFailed when the registry refuses the change.
void SetContextMenu(bool activate);

// Replaces text (of kPathSize) by its environment-expanded form when that
// fits; otherwise text stays as it is.
void ExpandInPlace(char* text);
// A drive folder (C:\...) or a network share (\\server\...).
bool IsAbsoluteFolder(const char* path);

#endif
