// Start-up and the dialogue: the switch, the question, and what the user is
// told of the outcome.
#ifndef KOMPAKTO_STARTUP_H
#define KOMPAKTO_STARTUP_H

constexpr unsigned kExitDone = 0;
constexpr unsigned kExitNoViewer = 1;
constexpr unsigned kExitRegistryFailed = 2;
// Nobody could see the question (a service, a task that runs whether the
// user is logged on or not), or it could not be shown; nothing changed.
constexpr unsigned kExitQuestionNotShown = 3;

// A Windows command line holds at most 32767 characters, so no argument is cut.
constexpr int kArgumentSize = 32768;

// Set by start-up when the first argument holds an s; leaves out the
// confirmation box.
extern bool SilentMode;
extern char FirstArgument[kArgumentSize];

// Whether needle occurs in haystack, ASCII letters compared without case.
bool ContainsNoCase(const char* haystack, const char* needle);

// Cuts commandLine into words and copies the second one into argument (of
// argumentSize bytes, cut to fit); empty when there is none.
void TakeFirstArgument(const char* commandLine, char* argument, int argumentSize);

// The whole program: reads the switch, asks, has the shell act, tells the
// outcome, and ends the process with its exit code.
[[noreturn]] void RunKompakto();

#endif
