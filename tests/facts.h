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

// Values by which Explorer leaves a static verb out of the menu (on the verb
// key: LegacyDisable, ProgrammaticAccessOnly) or hands it to another handler
// (on the verb key: ExplorerCommandHandler, CommandStateHandler; on its
// command key: DelegateExecute), of any type; only their presence counts.
// Switching on removes them. Names are separated by ';'. Values that only
// decorate or place the entry, and Extended (the entry shows with Shift),
// stay as they are.
constexpr char kVerbHidingValues[] = "LegacyDisable;ProgrammaticAccessOnly;ExplorerCommandHandler;CommandStateHandler";
constexpr char kCommandHidingValues[] = "DelegateExecute";
constexpr char kVerbKeptValues[] = "Icon;MUIVerb;Position;SeparatorBefore;Extended";

// The viewer: the 64-bit one under %ProgramW6432%, else the 32-bit one under
// %ProgramFiles%. The folders are those a 32-bit process sees on 64-bit
// Windows.
constexpr char kViewer64Name[] = "IrfanView\\I_view64.exe";
constexpr char kViewer32Name[] = "IrfanView\\I_view32.exe";
constexpr char kProgramW6432On64[] = "C:\\Program Files\\";
constexpr char kProgramFilesOn64[] = "C:\\Program Files (x86)\\";

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
