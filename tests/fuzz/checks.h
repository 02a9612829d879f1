// What both fuzz targets hold the program to, written from the documented
// behaviour and not from the program's code.
#ifndef KOMPAKTO_FUZZ_CHECKS_H
#define KOMPAKTO_FUZZ_CHECKS_H

#include <string>

#include "facts.h"

// Aborts with the message (and the run's calls) when the condition is false,
// so that libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition, message) ((condition) ? (void)0 : FuzzFail(#condition, (message), __FILE__, __LINE__))

[[noreturn]] void FuzzFail(const char* condition, const std::string& message, const char* file, int line);

// Button identifiers as Windows returns them; 0 is a box that failed.
enum { kYes = 6, kNo = 7, kCancel = 2 };

// A drive folder ("C:\...") or a network share ("\\server..."); the only
// folders a viewer may be taken from.
bool IsAbsoluteFolderText(const std::string& path);

// The default value of the verb's command key, without its terminating zero;
// false when there is none.
bool StoredCommand(std::string* command);

// The text, printable: bytes outside ASCII 32..126 as \xNN, cut in the middle
// when long.
std::string Printable(const std::string& text);

// How many boxes the run showed with this caption.
int BoxesCaptioned(const std::string& caption);

// The exit code a run must end with: a question that failed (no button)
// gives kExitQuestionNotShown, the download offer kExitNoViewer, anything
// else kExitDone.
int ExpectedExitCode(int questionAnswer, bool offered);

#endif
