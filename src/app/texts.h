// Every text the program shows, in one place. All are Windows-1252, written
// with \x escapes so that no compiler or editor can change a byte; lines are
// separated by a single carriage return. What the program stores and looks
// for (the keys, the viewer, the command) stands with the shell, which uses it.
#ifndef KOMPAKTO_TEXTS_H
#define KOMPAKTO_TEXTS_H

extern const char kQuestionCaption[];
extern const char kQuestionText[];
extern const char kIconName[];

extern const char kConfirmCaption[];
extern const char kActivatedText[];
extern const char kDeactivatedText[];

extern const char kErrorCaption[];
extern const char kActivationFailedText[];
extern const char kDeactivationFailedText[];

extern const char kDownloadCaption[];
extern const char kDownloadText[];
extern const char kDownloadAddress[];
extern const char kDownloadFailedText[];

extern const char kUser32Library[];
extern const char kTimeoutBoxProc[];
extern const char kDpiContextProc[];
extern const char kDpiAwareProc[];

#endif
