#include "shell/context_menu.h"

char CommandLine[kCommandSize];

static void BuildCommandLine(const char* viewerPath, char* commandLine) {
    static_assert(1 + (kPathSize - 1) + kCommandTailLength + 1 <= kCommandSize, "the longest path fits");
    commandLine[0] = '"';
    int length = TextLength(viewerPath);
    CopyText(viewerPath, commandLine + 1, kCommandSize - 1);
    CopyText(kCommandTail, commandLine + 1 + length, kCommandSize - 1 - length);
}

// Counts the trailing components of subKey that do not exist yet: the keys
// that creating subKey adds, and that a failed write takes back. -1 when the
// registry does not tell.
static int CountMissingKeys(OsKey root, const char* subKey) {
    static char path[kPathSize];
    CopyText(subKey, path, kPathSize);
    int missing = 0;
    while (path[0]) {
        OsKey key = nullptr;
        long result = OsRegOpenKeyEx(root, path, kKeyQueryValue, &key);
        if (result == kErrorSuccess) {
            OsRegCloseKey(key);
            return missing;
        }
        if (result != kErrorFileNotFound) {
            return -1;
        }
        missing++;
        CutLastComponent(path);
    }
    return missing;
}

// Deletes the last count components of subKey, deepest first. A key that is
// gone already is fine; one that stays stops the walk, as its parents cannot go.
static void DeleteCreatedKeys(OsKey root, const char* subKey, int count) {
    static char path[kPathSize];
    CopyText(subKey, path, kPathSize);
    for (int i = 0; i < count && path[0]; i++) {
        long result = OsRegDeleteKey(root, path);
        if (result != kErrorSuccess && result != kErrorFileNotFound) {
            return;
        }
        CutLastComponent(path);
    }
}

// Creates subKey with its missing parents and sets the value. True only when
// the value was written; otherwise the keys this call created are removed
// again, and a value that was there before is left as it was. Nothing is
// written when the registry does not tell which keys are there already.
static bool WriteRegString(OsKey root, const char* subKey, const char* valueName, const char* text) {
    int missing = CountMissingKeys(root, subKey);
    if (missing < 0) {
        return false;
    }
    OsKey key = nullptr;
    bool written = false;
    if (OsRegCreateKey(root, subKey, &key) == kErrorSuccess) {
        uint32_t byteCount = static_cast<uint32_t>(TextLength(text)) + 1;
        written = OsRegSetValueEx(key, valueName, kRegSz, text, byteCount) == kErrorSuccess;
        OsRegCloseKey(key);
    }
    if (!written) {
        DeleteCreatedKeys(root, subKey, missing);
    }
    return written;
}

// What Explorer reads on a static verb besides its command that keeps the
// command from showing or from running: switching on removes each of these,
// a sub key with everything below it. From Microsoft's shell documentation,
// the pages under https://learn.microsoft.com/:
//   [handlers]  windows/win32/shell/context-menu-handlers, "Creating Shortcut
//               Menu Handlers"
//   [choosing]  windows/win32/shell/shortcut-choose-method, "Choosing a Static
//               or Dynamic Shortcut Menu Method"
//   [legacy]    previous-versions/bb776883(v=vs.85), "Verbs and File
//               Associations", section "Registering Verbs for Backward
//               Compatibility"
//   [subcmds]   windows/win32/shell/how-to--create-cascading-menus-with-the-
//               subcommands-registry-entry
//   [extsubcmds] windows/win32/shell/how-to-create-cascading-menus-with-the-
//               extendedsubcommandskey-registry-entry
//   [dde]       windows/win32/shell/how-to-associate-verbs-with-dde-commands
//   [samples]   the shell verb samples (DropTargetVerb, ExecuteCommandVerb,
//               ExplorerCommandVerb; windows/win32/shell/samples-...), whose
//               RegisterExtension.cpp writes the value and key names
// Kept, because they only narrow or dress the entry: the filters Extended
// (with Shift), AppliesTo, MultiSelectModel, AttributeMask, AttributeValue,
// ImpliedSelectionModel [handlers], the user's choice; the decorations MUIVerb
// [subcmds], Icon [choosing], Position, HasLUAShield, DefaultAppliesTo
// [handlers] and CommandFlags [extsubcmds]. Anything else is kept too.
enum VerbEntryPlace {
    kVerbValue,     // a value of the verb key
    kCommandValue,  // a value of its command key
    kVerbSubKey,    // a sub key of the verb key
};
struct VerbEntry {
    const char* name;
    VerbEntryPlace place;
};
// clang-format off
static const VerbEntry kVerbEntries[] = {
    // Hides: never shown, or shown only to programs.
    {"LegacyDisable", kVerbValue},             // [legacy]: "not an actual verb"
    {"ProgrammaticAccessOnly", kVerbValue},    // [handlers] Programmatic Access Only
    {"SuppressionPolicy", kVerbValue},         // [handlers] Suppressing Verbs and
    {"SuppressionPolicyEx", kVerbValue},       //   Controlling Visibility: off by a policy
    // Diverts: Explorer shows or runs something other than the command.
    {"ExplorerCommandHandler", kVerbValue},    // [choosing] IExplorerCommand; [samples]
    {"CommandStateHandler", kVerbValue},       // [choosing] IExplorerCommandState; [samples]
    {"SubCommands", kVerbValue},               // [subcmds]: a cascade, never the command
    {"ExtendedSubCommandsKey", kVerbValue},    // [extsubcmds]: "entry", a cascade
    {"ExtendedSubCommandsKey", kVerbSubKey},   // [extsubcmds]: "subkey", a cascade
    {"DropTarget", kVerbSubKey},               // [handlers] IDropTarget; [choosing]; [samples]
    {"ddeexec", kVerbSubKey},                  // [dde]: a DDE conversation "instead"
    {"DelegateExecute", kCommandValue},        // [choosing] IExecuteCommand; [samples]
};
// clang-format on
static const int kVerbEntryCount = sizeof kVerbEntries / sizeof kVerbEntries[0];

// What the registry tells of an entry of kVerbEntries.
enum Presence { kAbsent, kPresent, kUnknown };

// Whether the open key has a value that is in the way at place.
static Presence FindValues(OsKey key, VerbEntryPlace place) {
    for (int i = 0; i < kVerbEntryCount; i++) {
        if (kVerbEntries[i].place != place) {
            continue;
        }
        long result = OsRegQueryValueEx(key, kVerbEntries[i].name);
        if (result != kErrorFileNotFound) {
            return result == kErrorSuccess ? kPresent : kUnknown;
        }
    }
    return kAbsent;
}

// Removes from subKey the values that are in the way at place. Write access
// is asked for only when there is one to remove, so a key that the user may
// not change but that holds none of them is no failure.
static bool RemoveValues(OsKey root, const char* subKey, VerbEntryPlace place) {
    OsKey key = nullptr;
    if (OsRegOpenKeyEx(root, subKey, kKeyQueryValue, &key) != kErrorSuccess) {
        return false;  // the key was written just now: failing to open it is a refusal, not an absence
    }
    Presence presence = FindValues(key, place);
    OsRegCloseKey(key);
    if (presence != kPresent) {
        return presence == kAbsent;
    }
    if (OsRegOpenKeyEx(root, subKey, kKeySetValue, &key) != kErrorSuccess) {
        return false;
    }
    bool removed = true;
    for (int i = 0; i < kVerbEntryCount && removed; i++) {
        if (kVerbEntries[i].place == place) {
            long result = OsRegDeleteValue(key, kVerbEntries[i].name);
            removed = result == kErrorSuccess || result == kErrorFileNotFound;
        }
    }
    OsRegCloseKey(key);
    return removed;
}

static Presence FindKey(OsKey root, const char* subKey) {
    OsKey key = nullptr;
    long result = OsRegOpenKeyEx(root, subKey, kKeyQueryValue, &key);
    if (result == kErrorSuccess) {
        OsRegCloseKey(key);
        return kPresent;
    }
    return result == kErrorFileNotFound ? kAbsent : kUnknown;
}

// Removes the sub keys of verbKey that are in the way, each with everything
// below it; each is looked for first, so that a verb without one is only read.
static bool RemoveSubKeys(OsKey root, const char* verbKey) {
    static char path[kPathSize];
    int verbLength = TextLength(verbKey);
    CopyText(verbKey, path, kPathSize);
    path[verbLength] = '\\';
    for (int i = 0; i < kVerbEntryCount; i++) {
        if (kVerbEntries[i].place != kVerbSubKey) {
            continue;
        }
        CopyText(kVerbEntries[i].name, path + verbLength + 1, kPathSize - verbLength - 1);
        Presence presence = FindKey(root, path);
        long result = presence == kPresent ? OsRegDeleteTree(root, path) : kErrorSuccess;
        if (presence == kUnknown || (result != kErrorSuccess && result != kErrorFileNotFound)) {
            return false;
        }
    }
    return true;
}

// An absent key counts as deleted.
static bool DeleteKey(OsKey root, const char* subKey) {
    long result = OsRegDeleteKey(root, subKey);
    return result == kErrorSuccess || result == kErrorFileNotFound;
}

// What the look before a delete finds at a key.
enum SubKeys { kKeyAbsent, kKeyUnknown, kNoSubKey, kOneSubKey, kMoreSubKeys };

// kKeyUnknown when the registry does not tell, or when the key's access list
// does not let the user delete it: it is opened with that right too, so that
// such a key is found before anything is deleted.
static SubKeys CountSubKeys(OsKey root, const char* subKey) {
    OsKey key = nullptr;
    long result = OsRegOpenKeyEx(root, subKey, kKeyQueryValue | kDelete, &key);
    if (result == kErrorFileNotFound) {
        return kKeyAbsent;
    }
    if (result != kErrorSuccess) {
        return kKeyUnknown;
    }
    uint32_t count = 0;
    result = OsRegQueryInfoKey(key, &count);
    OsRegCloseKey(key);
    if (result != kErrorSuccess) {
        return kKeyUnknown;
    }
    return count == 0 ? kNoSubKey : count == 1 ? kOneSubKey : kMoreSubKeys;
}

// Whether deleting commandKey and then verbKey takes away nothing else: the
// command key may have no sub key, the verb key none but the command key.
// Another program's sub key would make the delete stop half-way.
static bool VerbDeletesWhole(OsKey root, const char* verbKey, const char* commandKey) {
    SubKeys command = CountSubKeys(root, commandKey);
    SubKeys verb = CountSubKeys(root, verbKey);
    bool commandBare = command == kKeyAbsent || command == kNoSubKey;
    bool verbBare = verb == kKeyAbsent || verb == kNoSubKey || (verb == kOneSubKey && command != kKeyAbsent);
    return commandBare && verbBare;
}

static MenuOutcome Activate() {
    if (!LocateViewer()) {
        return kNoViewer;
    }
    BuildCommandLine(ViewerPath, CommandLine);
    // The command written, a menu cleaner's switch or another program's
    // handler left on the verb would still keep it from showing or from
    // running the command. Where one of them cannot be removed the command
    // stays written, but the entry is not switched on.
    OsKey user = OsCurrentUserKey();
    bool on = WriteRegString(user, kVerbCommandKey, "", CommandLine) && RemoveValues(user, kVerbKey, kVerbValue) &&
              RemoveSubKeys(user, kVerbKey) && RemoveValues(user, kVerbCommandKey, kCommandValue);
    return on ? kSwitchedOn : kRefused;
}

// Looks at all four keys before it deletes any, so that a key it may not
// take leaves the registry as it was. A key with a sub key cannot be
// deleted: each "command" key goes first. A delete that Windows refuses all
// the same (its rights changed since the look) stops the rest.
static MenuOutcome Deactivate() {
    OsKey user = OsCurrentUserKey();
    bool whole = VerbDeletesWhole(user, kVerbKey, kVerbCommandKey) &&
                 VerbDeletesWhole(user, kFolderVerbKey, kFolderVerbCommandKey);
    bool deleted = whole && DeleteKey(user, kVerbCommandKey) && DeleteKey(user, kVerbKey) &&
                   DeleteKey(user, kFolderVerbCommandKey) && DeleteKey(user, kFolderVerbKey);
    return deleted ? kSwitchedOff : kRefused;
}

MenuOutcome SetContextMenu(bool activate) { return activate ? Activate() : Deactivate(); }
