// The context-menu verb: finding the viewer, the command line it runs, and
// writing and deleting the verb's keys under HKEY_CURRENT_USER.
#ifndef KOMPAKTO_CONTEXT_MENU_H
#define KOMPAKTO_CONTEXT_MENU_H

#include "platform/platform.h"

constexpr int kPathSize = 513;  // 512 characters and the terminating zero
constexpr uint32_t kExpandSize = 512;
constexpr int kCommandTailLength = 101;
// The command is the viewer's path plus 102 characters; this fits any path.
constexpr int kCommandSize = kPathSize + 1 + kCommandTailLength;

constexpr unsigned kExitDone = 0;
constexpr unsigned kExitNoViewer = 1;
constexpr unsigned kExitRegistryFailed = 2;

extern char ProgramFilesPath[kPathSize];
extern char ProgramW6432Path[kPathSize];
extern char ViewerPath[kPathSize];
extern char CommandLine[kCommandSize];

// Activates (true) or deactivates (false) the verb and confirms it unless
// SilentMode is set. Ends the process with kExitNoViewer when the viewer is
// missing and with kExitRegistryFailed when the registry refuses the change.
void SetContextMenu(bool activate);

bool LocateViewer();
void ExpandInPlace(char* text);
bool PathExists(const char* path);
bool IsAbsoluteFolder(const char* path);
bool BuildCandidate(const char* folder, const char* name, char* path);
void BuildCommandLine(const char* viewerPath, char* commandLine);
bool WriteRegString(OsKey root, const char* subKey, const char* valueName, const char* text);

#endif
