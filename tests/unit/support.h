// Helpers shared by the unit tests.
#ifndef KOMPAKTO_TEST_SUPPORT_H
#define KOMPAKTO_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "facts.h"
#include "fake/fake.h"

// The text of that name in tests/texts.txt, as the program must hold it:
// Windows-1252, lines joined by a single carriage return.
std::string ExpectedText(const std::string& name);

// The names of the calls recorded since the last reset, in order; with a
// prefix, only the names that begin with it.
std::vector<std::string> CallNamesOf(const std::string& prefix = "");
// The arguments of the calls of this operation, in order.
std::vector<std::string> CallDetailsOf(const std::string& op);
// Whether a call reads the viewer's uninstall entries; and the registry calls
// recorded, in order, less those.
bool ReadsTheViewersEntries(const FakeCall& call);
std::vector<std::string> RegistryCallsBesidesTheSearch();

// The command stored for viewer; the text value of name under key as the
// program must store one, "<none>" when there is none or it is not so; the
// stored command; the caption of the last box shown.
std::string ExpectedCommand(const std::string& viewer);
std::string StoredText(const std::string& key, const std::string& name);
std::string StoredCommand();
std::string LastCaption();

// Runs the program with this command line; the question is answered with
// answer, and the download offer, if one is given, with offerAnswer. No key
// or library may be left open.
constexpr int kNoSecondBox = -1;
int RunAnswering(int answer, const char* commandLine = "kompakto.exe", int offerAnswer = kNoSecondBox);

// Where the fake's 64-bit Windows has the viewers.
const std::string kViewer64Path = std::string(facts::kProgramW6432On64) + facts::kViewer64Name;
const std::string kViewer32Path = std::string(facts::kProgramFilesOn64) + facts::kViewer32Name;

#endif
