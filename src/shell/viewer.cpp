#include "shell/viewer.h"

char ProgramFilesPath[kPathSize];
char ProgramW6432Path[kPathSize];
char ViewerPath[kPathSize];

// What a place yields before it is checked: a folder, or a file's path.
static char PlaceText[kPathSize];

bool CopyText(const char* source, char* target, int targetSize) {
    int length = TextLength(source);
    if (length >= targetSize) {
        target[0] = '\0';
        return false;
    }
    for (int i = 0; i <= length; i++) {
        target[i] = source[i];
    }
    return true;
}

void CutLastComponent(char* path) {
    int end = TextLength(path);
    while (end > 0 && path[end] != '\\') {
        end--;
    }
    path[end] = '\0';
}

static bool SameText(const char* a, const char* b) {
    int i = 0;
    while (a[i] && a[i] == b[i]) {
        i++;
    }
    return a[i] == b[i];
}

void ExpandInPlace(char* text) {
    static char expanded[kPathSize];
    uint32_t needed = OsExpandEnvironmentStrings(text, expanded, kExpandSize);
    if (needed >= 1 && needed <= kExpandSize) {
        CopyText(expanded, text, kPathSize);
    }
    // Zero or a size above the buffer: the text stays unexpanded, which is no
    // absolute folder and so yields no viewer.
}

// A folder of the viewer's name does not count: it is no program to run.
static bool PathExists(const char* path) {
    uint32_t attributes = OsGetFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

// A drive folder (C:\...) or a network share (\\server\...). Anything else
// would be looked up from the current folder, where anyone may have planted
// a program of that name.
bool IsAbsoluteFolder(const char* path) {
    char drive = path[0];
    bool isLetter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (isLetter && path[1] == ':' && path[2] == '\\') {
        return true;
    }
    return path[0] == '\\' && path[1] == '\\' && path[2] != '\0' && path[2] != '\\';
}

// ViewerPath := folder followed by name, when the folder is absolute, the two
// fit into kPathSize and they name a file; otherwise ViewerPath is empty.
static bool TryPath(const char* folder, const char* name) {
    ViewerPath[0] = '\0';
    if (!IsAbsoluteFolder(folder)) {
        return false;
    }
    int folderLength = TextLength(folder);
    if (!CopyText(folder, ViewerPath, kPathSize) ||
        !CopyText(name, ViewerPath + folderLength, kPathSize - folderLength) || !PathExists(ViewerPath)) {
        ViewerPath[0] = '\0';
        return false;
    }
    return true;
}

// The program in folder, the two joined by exactly one backslash.
static bool TryInFolder(char* folder, const char* program) {
    int length = TextLength(folder);
    while (length > 0 && folder[length - 1] == '\\') {
        length--;
    }
    if (length + 2 > kPathSize) {
        return false;
    }
    folder[length] = '\\';
    folder[length + 1] = '\0';
    return TryPath(folder, program);
}

// A path in one pair of quotes, arguments possibly after them, is the path
// inside; false for a quote that is never closed.
static bool Unquote(char* text) {
    if (text[0] != '"') {
        return true;
    }
    int i = 1;
    for (; text[i] && text[i] != '"'; i++) {
        text[i - 1] = text[i];
    }
    if (!text[i]) {
        return false;
    }
    text[i - 1] = '\0';
    return true;
}

// A value of an uninstall entry: a folder, or a file in it (the uninstaller,
// or the program itself, as some entries have it), which stands for its
// folder. One that Windows refuses to read, that is no text or does not fit,
// or that names no absolute place, is passed over.
static bool TryEntryValue(OsKey entry, const char* valueName, bool namesFile, const char* program) {
    if (OsRegQueryString(entry, valueName, PlaceText, kPathSize) != kErrorSuccess || !Unquote(PlaceText) ||
        !IsAbsoluteFolder(PlaceText)) {
        return false;
    }
    if (namesFile || PathExists(PlaceText)) {
        CutLastComponent(PlaceText);  // joined, it is C:\ again for C:\x.exe
    }
    return TryInFolder(PlaceText, program);
}

// Where each kind of place stands.
enum PlaceKind {
    kProgramFilesPlace,    // a program-files folder, expanded before the search
    kMachineEntry64Place,  // an uninstall entry in HKEY_LOCAL_MACHINE's 64-bit view
    kMachineEntry32Place,  // ... in its 32-bit view
    kUserEntryPlace,       // ... under HKEY_CURRENT_USER
    kScoopPlace,           // a Scoop root: its variable, else its default folder
};

static bool TryUninstallEntry(PlaceKind kind, const char* entryKey, const char* program) {
    OsKey entry = nullptr;
    long result = kind == kUserEntryPlace        ? OsRegOpenKeyEx(OsCurrentUserKey(), entryKey, kKeyQueryValue, &entry)
                  : kind == kMachineEntry64Place ? OsRegOpenMachineKey(kRegistryView64, entryKey, &entry)
                                                 : OsRegOpenMachineKey(kRegistryView32, entryKey, &entry);
    if (result != kErrorSuccess) {
        return false;
    }
    bool found = TryEntryValue(entry, kInstallLocationValue, false, program) ||
                 TryEntryValue(entry, kUninstallStringValue, true, program);
    OsRegCloseKey(entry);
    return found;
}

// A Scoop root is its variable where that is set, else its default folder.
static bool TryScoop(const char* variable, const char* fallback, const char* program) {
    CopyText(variable, PlaceText, kPathSize);
    ExpandInPlace(PlaceText);
    if (SameText(PlaceText, variable)) {
        CopyText(fallback, PlaceText, kPathSize);
        ExpandInPlace(PlaceText);
    }
    return TryInFolder(PlaceText, program);
}

// The places of the viewer, in the order tried; the first that holds it wins.
// The names are from public sources:
//   [winget]  microsoft/winget-pkgs, manifests/i/IrfanSkiljan/IrfanView/4.76
//             (and 4.70, 4.73) IrfanSkiljan.IrfanView.installer.yaml: the
//             setup's uninstall entry ("ProductCode") is IrfanView64 for the
//             64-bit edition and IrfanView for the 32-bit one; it installs
//             for the machine and takes its folder from /folder="...".
//   [detect]  greenbone secpod_irfanview_detect.nasl: both entries under
//             HKEY_LOCAL_MACHINE, the 32-bit one also in its 32-bit view
//             (Wow6432Node), read for InstallLocation and UninstallString,
//             the latter the uninstaller iv_uninstall.exe in IrfanView's folder
//             (also chocolatey-packages automatic/irfanview, its uninstall).
//   [paths]   FileAssociationGuard ApplicationPaths.cs: InstallLocation of
//             IrfanView64 followed by i_view64.exe.
//   [bucket]  ScoopInstaller/Extras bucket/irfanview.json and
//             irfanview-lean.json: i_view64.exe (64bit) and i_view32.exe
//             (32bit) at the root of the app's folder.
//   [scoop]   ScoopInstaller/Scoop lib/core.ps1 and its wiki, "Scoop Folder
//             Layout": the user's root is %SCOOP%, else %USERPROFILE%\scoop;
//             the global one %SCOOP_GLOBAL%, else %ProgramData%\scoop; an app
//             is apps\<manifest>\current, a link to its current version.
// The entries are read from the 64-bit view first: a 32-bit process sees
// only the 32-bit one unless it asks. HKEY_CURRENT_USER is read last for an
// entry a setup run for one user may leave there.
struct ViewerPlace {
    PlaceKind kind;
    const char* where;     // the folder's buffer, the entry's key, or the Scoop variable
    const char* fallback;  // Scoop: the root where the variable is not set
    const char* program;   // below the folder
};
// clang-format off
static const ViewerPlace kViewerPlaces[] = {
    {kProgramFilesPlace, ProgramW6432Path, nullptr, kViewer64Name},  // the setup's own folders
    {kProgramFilesPlace, ProgramFilesPath, nullptr, kViewer32Name},
    {kMachineEntry64Place, kUninstallKey64, nullptr, kProgram64},   // [winget] [detect] [paths]
    {kMachineEntry64Place, kUninstallKey32, nullptr, kProgram32},
    {kMachineEntry32Place, kUninstallKey64, nullptr, kProgram64},
    {kMachineEntry32Place, kUninstallKey32, nullptr, kProgram32},
    {kUserEntryPlace, kUninstallKey64, nullptr, kProgram64},
    {kUserEntryPlace, kUninstallKey32, nullptr, kProgram32},
    {kScoopPlace, kScoopUserVariable, kScoopUserFallback, kScoopProgram64},  // [bucket] [scoop]
    {kScoopPlace, kScoopUserVariable, kScoopUserFallback, kScoopProgram32},
    {kScoopPlace, kScoopUserVariable, kScoopUserFallback, kScoopLeanProgram64},
    {kScoopPlace, kScoopUserVariable, kScoopUserFallback, kScoopLeanProgram32},
    {kScoopPlace, kScoopGlobalVariable, kScoopGlobalFallback, kScoopProgram64},
    {kScoopPlace, kScoopGlobalVariable, kScoopGlobalFallback, kScoopProgram32},
    {kScoopPlace, kScoopGlobalVariable, kScoopGlobalFallback, kScoopLeanProgram64},
    {kScoopPlace, kScoopGlobalVariable, kScoopGlobalFallback, kScoopLeanProgram32},
};
// clang-format on
static const int kViewerPlaceCount = sizeof kViewerPlaces / sizeof kViewerPlaces[0];

static bool TryPlace(const ViewerPlace& place) {
    switch (place.kind) {
        case kProgramFilesPlace:
            return TryPath(place.where, place.program);
        case kScoopPlace:
            return TryScoop(place.where, place.fallback, place.program);
        default:
            return TryUninstallEntry(place.kind, place.where, place.program);
    }
}

bool LocateViewer() {
    CopyText(kProgramFilesFolder, ProgramFilesPath, kPathSize);
    ExpandInPlace(ProgramFilesPath);
    CopyText(kProgramW6432Folder, ProgramW6432Path, kPathSize);
    ExpandInPlace(ProgramW6432Path);
    for (int i = 0; i < kViewerPlaceCount; i++) {
        if (TryPlace(kViewerPlaces[i])) {
            return true;
        }
    }
    return false;
}
