// What kompakto.exe must store, where it looks for the viewer and what its
// boxes are called: written once, from the program's description and not
// from its code, for every test. The texts of the boxes are in texts.txt.
//
// tests/facts.py reads this file for the Python tests: one constant a line,
// a string literal (pieces may follow each other) or a number.
#ifndef KOMPAKTO_TEST_FACTS_H
#define KOMPAKTO_TEST_FACTS_H

namespace facts {

// Under HKEY_CURRENT_USER. The verb's command key holds the command line as
// its default value; switching off deletes both verbs.
constexpr char kVerbKey[] = "SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)";
constexpr char kVerbCommandKey[] = "SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)\\command";
constexpr char kFolderVerbKey[] = "SOFTWARE\\Classes\\Directory\\shell\\JPG-Web (IrfanView)";
constexpr char kFolderVerbCommandKey[] = "SOFTWARE\\Classes\\Directory\\shell\\JPG-Web (IrfanView)\\command";

// What Explorer reads on a static verb besides its command (Microsoft's shell
// documentation), by what it does to the entry; names are separated by ';',
// values count by their presence alone, whatever their type. Hiding: the
// entry is never shown, or only to programs. Diverting: Explorer hands the
// selection to a COM object, a drop target or a DDE conversation, or shows a
// cascading menu, instead of running the command; a diverting sub key counts
// with whatever lies below it. Switching on removes both kinds. Filtering
// (shown for some selections only, or with Shift) and decorating values stay,
// as does everything else on the verb.
constexpr char kVerbHidingValues[] = "LegacyDisable;ProgrammaticAccessOnly;SuppressionPolicy;SuppressionPolicyEx";
constexpr char kVerbDivertingValues[] = "ExplorerCommandHandler;CommandStateHandler;SubCommands;ExtendedSubCommandsKey";
constexpr char kCommandDivertingValues[] = "DelegateExecute";
constexpr char kVerbDivertingSubKeys[] = "DropTarget;ddeexec;ExtendedSubCommandsKey";
constexpr char kVerbFilteringValues[] =
    "Extended;AppliesTo;MultiSelectModel;AttributeMask;AttributeValue;ImpliedSelectionModel";
constexpr char kVerbDecoratingValues[] = "MUIVerb;Icon;Position;HasLUAShield;DefaultAppliesTo;CommandFlags";

// The viewer: the 64-bit one under %ProgramW6432%, else the 32-bit one under
// %ProgramFiles%, where its setup puts it. The folders are those a 32-bit process sees on 64-bit
// Windows.
constexpr char kViewer64Name[] = "IrfanView\\I_view64.exe";
constexpr char kViewer32Name[] = "IrfanView\\I_view32.exe";
constexpr char kProgramW6432On64[] = "C:\\Program Files\\";
constexpr char kProgramFilesOn64[] = "C:\\Program Files (x86)\\";
// Where neither is there: the uninstall entry of IrfanView's setup, in
// HKEY_LOCAL_MACHINE's 64-bit view, then its 32-bit view, then under
// HKEY_CURRENT_USER, the 64-bit edition's entry first in each; its folder is
// InstallLocation, else the folder of UninstallString (the uninstaller), and
// the program there the edition's own. Then Scoop's folders of the two
// manifests that install IrfanView, under %SCOOP% (else %USERPROFILE%\scoop),
// then %SCOOP_GLOBAL% (else %ProgramData%\scoop), the 64-bit program first.
constexpr char kUninstallKey64[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\IrfanView64";
constexpr char kUninstallKey32[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\IrfanView";
constexpr char kInstallLocation[] = "InstallLocation";
constexpr char kUninstallString[] = "UninstallString";
constexpr char kProgram64[] = "i_view64.exe";
constexpr char kProgram32[] = "i_view32.exe";
constexpr char kScoopApp[] = "apps\\irfanview\\current\\";
constexpr char kScoopLeanApp[] = "apps\\irfanview-lean\\current\\";
constexpr char kScoopUserVariable[] = "%SCOOP%";
constexpr char kScoopUserDefault[] = "%USERPROFILE%\\scoop";
constexpr char kScoopGlobalVariable[] = "%SCOOP_GLOBAL%";
constexpr char kScoopGlobalDefault[] = "%ProgramData%\\scoop";

// The stored command is '"', the viewer's path and this tail of 101
// characters, the multiplication sign being the byte 0xD7.
constexpr char kCommandTail[] =
    "\" \"%1\" \"%1\\*.*\" /silent /resize_long=1600 /aspectratio /resample /jpgq=70 /convert=\"$N - ($W\xD7"
    "$H).jpg\"";
constexpr int kCommandTailLength = 101;

// The version of the program and of its version record.
constexpr char kVersion[] = "1.1.0.0";
constexpr char kQuestionCaption[] = "Kompakto 1.1.0.0";
constexpr char kConfirmCaption[] = "Kompakto";
constexpr char kDownloadCaption[] = "Kompakto: IrfanView nicht gefunden";
constexpr char kErrorCaption[] = "Kompakto: Fehler";

// A first argument holding an s in either case leaves out the confirmation.
constexpr char kSilentSwitch[] = "/s";
constexpr int kExitDone = 0;
constexpr int kExitNoViewer = 1;
constexpr int kExitRegistryFailed = 2;
constexpr int kExitQuestionNotShown = 3;
constexpr int kConfirmTimeoutMs = 5555;

// The styles of the boxes as Windows gets them: each asks to come to the
// front (MB_SETFOREGROUND); the question and the download offer show the
// program's icon, the question with Cancel as its default button. The
// question comes with the information sound.
constexpr int kQuestionStyle = 0x10283;
constexpr int kDownloadStyle = 0x10083;
constexpr int kConfirmStyle = 0x10040;
constexpr int kErrorStyle = 0x10010;
constexpr int kQuestionBeep = 0x40;

}  // namespace facts

#endif
