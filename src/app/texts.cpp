#include "app/texts.h"

#include "app/version.h"

// The texts are laid out a line of the message to a line of code.
// clang-format off

#define CR "\r"
#define VERSION KOMPAKTO_VERSION_TEXT
#define MAKER_LINE "Freeware \xA9" " 2026 Kompakto-Team"
#define SEPARATOR "-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-=-"
#define MENU_NAME "Kontextmen\xFC" " \xAB" "Shrink JPG (IrfanView)\xBB"

// The eleven lines that describe the verb: they open the question and stand
// in the middle of the activation confirmation.
#define MENU_DESCRIPTION                                         \
    "Kontextmen\xFC" " Shrink JPG (IrfanView):" CR               \
    CR                                                           \
    "Vorhandene Bilder werden auf die L\xE4" "nge 1600px" CR     \
    "reduziert und als \xAB" "Dateiname - (1600\xD7" "H\xF6"     \
    "he).jpg\xBB" CR                                             \
    "mit der Kompressionsstufe 70% gespeichert." CR              \
    CR                                                           \
    "Die reduzierten JPGs sind optimiert f\xFC" "r die Ver-" CR  \
    "wendung im Web." CR                                         \
    CR                                                           \
    "(Installierter IrfanView Bildbetrachter erforderlich)" CR   \
    SEPARATOR

#define HEADER "Kompakto v" VERSION CR MAKER_LINE CR
#define DOWNLOAD_ADDRESS "https://www.irfanview.com/"

const char kQuestionCaption[] = "Kompakto " VERSION;
const char kQuestionText[] =
    MENU_DESCRIPTION CR
    CR
    MENU_NAME " aktivieren?" CR
    CR
    "[Ja]\tAktivieren" CR
    "[Nein]\tDeaktivieren";
const char kIconName[] = "i";

const char kConfirmCaption[] = "Kompakto";
const char kActivatedText[] =
    HEADER
    CR
    MENU_DESCRIPTION CR
    "Das " MENU_NAME CR
    "wurde aktiviert.";
const char kDeactivatedText[] =
    HEADER
    SEPARATOR CR
    "Das " MENU_NAME CR
    "wurde deaktiviert.";

const char kErrorCaption[] = "Kompakto: Fehler";
const char kActivationFailedText[] =
    HEADER
    SEPARATOR CR
    "Das " MENU_NAME CR
    "konnte nicht aktiviert werden:" CR
    "Der Eintrag in der Registrierung (HKEY_CURRENT_USER)" CR
    "l\xE4" "sst sich nicht schreiben.";
const char kDeactivationFailedText[] =
    HEADER
    SEPARATOR CR
    "Das " MENU_NAME CR
    "konnte nicht deaktiviert werden:" CR
    "Ein Eintrag in der Registrierung (HKEY_CURRENT_USER)" CR
    "l\xE4" "sst sich nicht l\xF6" "schen.";

const char kDownloadCaption[] = "Kompakto: IrfanView nicht gefunden";
const char kDownloadText[] =
    "Kompakto " VERSION " erfordert die Installation" CR
    "von IrfanView (Bildbetrachter/konverter)." CR
    CR
    "Kompakto nach erfolgter Installation erneut starten." CR
    CR
    "IrfanView (32-Bit oder 64-Bit) jetzt herunterladen?";
const char kDownloadAddress[] = DOWNLOAD_ADDRESS;
const char kDownloadFailedText[] =
    HEADER
    SEPARATOR CR
    "Die Download-Seite von IrfanView konnte nicht" CR
    "ge\xF6" "ffnet werden. Bitte im Browser aufrufen:" CR
    DOWNLOAD_ADDRESS;

const char kTimeoutBoxLibrary[] = "User32.dll";
// The UTF-16 twin of MessageBoxTimeoutA: the Windows side hands every text over
// as UTF-16.
const char kTimeoutBoxProc[] = "MessageBoxTimeoutW";

const char kProgramFilesFolder[] = "%ProgramFiles%\\";
const char kProgramW6432Folder[] = "%ProgramW6432%\\";
const char kViewer64Name[] = "IrfanView\\I_view64.exe";
const char kViewer32Name[] = "IrfanView\\I_view32.exe";
#define VERB_KEY "SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)"
#define FOLDER_VERB_KEY "SOFTWARE\\Classes\\Directory\\shell\\JPG-Web (IrfanView)"
const char kVerbKey[] = VERB_KEY;
const char kVerbCommandKey[] = VERB_KEY "\\command";
const char kFolderVerbKey[] = FOLDER_VERB_KEY;
const char kFolderVerbCommandKey[] = FOLDER_VERB_KEY "\\command";

// The pages, under https://learn.microsoft.com/:
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
const VerbEntry kVerbEntries[] = {
    {"LegacyDisable", kVerbValue, kHides},            // [legacy]: "not an actual verb"
    {"ProgrammaticAccessOnly", kVerbValue, kHides},   // [handlers] Programmatic Access Only
    {"SuppressionPolicy", kVerbValue, kHides},        // [handlers] Suppressing Verbs and
    {"SuppressionPolicyEx", kVerbValue, kHides},      //   Controlling Visibility: off by a policy
    {"ExplorerCommandHandler", kVerbValue, kDiverts}, // [choosing] IExplorerCommand; [samples]
    {"CommandStateHandler", kVerbValue, kDiverts},    // [choosing] IExplorerCommandState; [samples]
    {"SubCommands", kVerbValue, kDiverts},            // [subcmds]: a cascade, never the command
    {"ExtendedSubCommandsKey", kVerbValue, kDiverts}, // [extsubcmds]: "entry", a cascade
    {"ExtendedSubCommandsKey", kVerbSubKey, kDiverts},// [extsubcmds]: "subkey", a cascade
    {"DropTarget", kVerbSubKey, kDiverts},            // [handlers] IDropTarget; [choosing]; [samples]
    {"ddeexec", kVerbSubKey, kDiverts},               // [dde]: a DDE conversation "instead"
    {"DelegateExecute", kCommandValue, kDiverts},     // [choosing] IExecuteCommand; [samples]
    {"Extended", kVerbValue, kFilters},               // [handlers] Extended Verbs: with Shift
    {"AppliesTo", kVerbValue, kFilters},              // [handlers] Advanced Query Syntax
    {"MultiSelectModel", kVerbValue, kFilters},       // [handlers] Verb Selection Model
    {"AttributeMask", kVerbValue, kFilters},          // [handlers] Using Item Attributes
    {"AttributeValue", kVerbValue, kFilters},         // [handlers] Using Item Attributes
    {"ImpliedSelectionModel", kVerbValue, kFilters},  // [handlers] Using Item Attributes
    {"MUIVerb", kVerbValue, kDecorates},              // [subcmds]: the text on the menu
    {"Icon", kVerbValue, kDecorates},                 // [choosing]: an icon for a static verb
    {"Position", kVerbValue, kDecorates},             // [handlers] Positioning Verbs at the Top
    {"HasLUAShield", kVerbValue, kDecorates},         // [handlers] Advanced Query Syntax
    {"DefaultAppliesTo", kVerbValue, kDecorates},     // [handlers] Advanced Query Syntax
    {"CommandFlags", kVerbValue, kDecorates},         // [extsubcmds]: separators
};
const int kVerbEntryCount = sizeof kVerbEntries / sizeof kVerbEntries[0];
// clang-format on
