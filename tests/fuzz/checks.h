// What both fuzz targets hold the program to, written from the documented
// behaviour and not from the program's code.
#ifndef KOMPAKTO_FUZZ_CHECKS_H
#define KOMPAKTO_FUZZ_CHECKS_H

#include <string>

#include "facts.h"
#include "windows_numbers.h"

// Aborts with the message (and the run's calls) when the condition is false,
// so that libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition, message) ((condition) ? (void)0 : FuzzFail(#condition, (message), __FILE__, __LINE__))

[[noreturn]] void FuzzFail(const char* condition, const std::string& message, const char* file, int line);

// The answer that two bits of an input choose: a button of
// windows_numbers.h, or 0 for a box that failed.
inline int Answer(unsigned bits, const int (&answers)[4]) { return answers[bits & 3]; }

// A drive folder ("C:\...") or a network share ("\\server..."); the only
// folders a viewer may be taken from.
bool IsAbsoluteFolderText(const std::string& path);

// The text, printable: bytes outside ASCII 32..126 as \xNN, cut in the middle
// when long.
std::string Printable(const std::string& text);

// Runs the program, the question answered with question, the download offer
// with download, any later box with 0, and checks what every run must do: the
// exit code (3 for a question that failed, 1 after the offer, else 0); the
// question first and once; the offer when offered, its page opened when taken;
// a command stored exactly when Yes found a viewer, the verb kept only after
// Yes; a confirmation when the run acted and is not silent; no key or library
// left open. Gives the stored command, empty when there is none.
std::string RunAndCheck(int question, int download, bool offered, bool silent, const std::string& context);

#endif
