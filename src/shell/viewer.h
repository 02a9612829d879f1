// Finding the viewer: the places IrfanView is looked for, in order, and the
// rules that what a place yields must meet before it is taken.
#ifndef KOMPAKTO_VIEWER_H
#define KOMPAKTO_VIEWER_H

#include "platform/platform.h"

// Where the viewer's own setup puts it, and what it is called there: looked
// for first, byte for byte in Windows-1252.
constexpr char kProgramFilesFolder[] = "%ProgramFiles%\\";
constexpr char kProgramW6432Folder[] = "%ProgramW6432%\\";
constexpr char kViewer64Name[] = "IrfanView\\I_view64.exe";
constexpr char kViewer32Name[] = "IrfanView\\I_view32.exe";
// Then where its setup says it put itself, and where Scoop unpacks it.
constexpr char kUninstallKey64[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\IrfanView64";
constexpr char kUninstallKey32[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\IrfanView";
constexpr char kInstallLocationValue[] = "InstallLocation";
constexpr char kUninstallStringValue[] = "UninstallString";
constexpr char kProgram64[] = "i_view64.exe";
constexpr char kProgram32[] = "i_view32.exe";
constexpr char kScoopUserVariable[] = "%SCOOP%";
constexpr char kScoopUserFallback[] = "%USERPROFILE%\\scoop";
constexpr char kScoopGlobalVariable[] = "%SCOOP_GLOBAL%";
constexpr char kScoopGlobalFallback[] = "%ProgramData%\\scoop";
constexpr char kScoopProgram64[] = "apps\\irfanview\\current\\i_view64.exe";
constexpr char kScoopProgram32[] = "apps\\irfanview\\current\\i_view32.exe";
constexpr char kScoopLeanProgram64[] = "apps\\irfanview-lean\\current\\i_view64.exe";
constexpr char kScoopLeanProgram32[] = "apps\\irfanview-lean\\current\\i_view32.exe";

constexpr int kPathSize = 513;  // 512 characters and the terminating zero
constexpr uint32_t kExpandSize = 512;

extern char ProgramFilesPath[kPathSize];
extern char ProgramW6432Path[kPathSize];
extern char ViewerPath[kPathSize];

// Fills ViewerPath with the viewer of the first place that holds one; false,
// with ViewerPath empty, when none does.
bool LocateViewer();

// Replaces text (of kPathSize) by its environment-expanded form when that
// fits; otherwise text stays as it is.
void ExpandInPlace(char* text);
// A drive folder (C:\...) or a network share (\\server\...).
bool IsAbsoluteFolder(const char* path);

// Copies source to target of targetSize bytes; false, with target empty, when
// it does not fit.
bool CopyText(const char* source, char* target, int targetSize);
// Cuts path at its last backslash; a path without one becomes empty.
void CutLastComponent(char* path);

#endif
