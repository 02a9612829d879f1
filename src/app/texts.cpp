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

const char kUser32Library[] = "User32.dll";
// The UTF-16 twin of MessageBoxTimeoutA: the Windows side hands every text over
// as UTF-16.
const char kTimeoutBoxProc[] = "MessageBoxTimeoutW";
const char kDpiContextProc[] = "SetProcessDpiAwarenessContext";  // Windows 10 1703 and later
const char kDpiAwareProc[] = "SetProcessDPIAware";               // Windows Vista and later

// clang-format on
