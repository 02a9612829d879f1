// The whole program, run on the fake with any command line.
//
// Input: one control byte, then the command line. Zero bytes are dropped (a
// command line cannot hold one) and the line is cut to 32767 characters, the
// longest that Windows passes to a process.
//   bits 0-1  viewers installed: none, 32-bit, 64-bit, both
//   bits 2-3  answer to the question: Yes, No, Cancel, 0 (the box failed)
//   bits 4-5  answer to the download offer, the same four
//   bit 6     32-bit Windows: %ProgramW6432% is not defined
//
// Checked, besides what RunAndCheck checks: SilentMode is on exactly when the
// first argument, cut out by the splitter below, holds an s or S; the program
// took that same argument; a stored command is the quoted path of a viewer
// that is there, followed by the fixed tail.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "app/startup.h"
#include "checks.h"
#include "fake/fake.h"

namespace {

const size_t kLongestCommandLine = 32767;

const std::string kViewer64 = std::string(facts::kProgramW6432On64) + facts::kViewer64Name;
const std::string kViewer32On64 = std::string(facts::kProgramFilesOn64) + facts::kViewer32Name;
const std::string kViewer32On32 = std::string("C:\\Program Files\\") + facts::kViewer32Name;

bool IsSeparatorByte(unsigned char c) { return c >= 1 && c <= 32; }

// Cuts the command line into words the way the program documents it and
// returns the second word ("" when there is none). Kept deliberately plain:
// an index walk over the text, one case per rule.
std::string ReferenceFirstArgument(const std::string& line) {
    size_t i = 0;
    std::string words[2];
    for (int w = 0; w < 2; w++) {
        while (i < line.size() && IsSeparatorByte(static_cast<unsigned char>(line[i]))) i++;
        if (i == line.size()) return std::string();
        bool quoting = false;
        std::string word;
        while (i < line.size()) {
            unsigned char c = static_cast<unsigned char>(line[i]);
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                i += 2;  // a doubled quote: nothing, quoting unchanged
            } else if (c == '"') {
                quoting = !quoting;
                i++;
            } else if (IsSeparatorByte(c) && !quoting) {
                break;
            } else {
                word += static_cast<char>(c);
                i++;
            }
        }
        words[w] = word;
    }
    return words[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    std::string line;
    for (size_t i = 1; i < size && line.size() < kLongestCommandLine; i++) {
        if (data[i] != 0) line += static_cast<char>(data[i]);
    }
    const bool has32 = control & 1, has64 = control & 2;
    const int question = Answer(control >> 2, {win::kIdYes, win::kIdNo, win::kIdCancel, 0});
    const int download = Answer(control >> 4, {win::kIdYes, win::kIdNo, win::kIdCancel, 0});
    const bool windows32 = control & 0x40;

    FakeReset();
    FakeSetCommandLine(line);
    if (windows32) {
        FakeUnsetEnv("ProgramW6432");
        FakeSetEnv("ProgramFiles", "C:\\Program Files");
    }
    std::string given[2];
    if (has64) given[0] = kViewer64;
    if (has32) given[1] = windows32 ? kViewer32On32 : kViewer32On64;
    for (const std::string& file : given) {
        if (!file.empty()) FakeAddFile(file);
    }
    const std::string argument = ReferenceFirstArgument(line);
    const bool silent = argument.find_first_of("sS") != std::string::npos;
    const std::string context = "command line " + Printable(line) + ", first argument " + Printable(argument);
    const bool viewerThere = (has64 && !windows32) || has32;
    const std::string command =
        RunAndCheck(question, download, question == win::kIdYes && !viewerThere, silent, context);

    FUZZ_CHECK(SilentMode == silent, context);
    FUZZ_CHECK(strlen(FirstArgument) == argument.size() && argument == FirstArgument,
               context + ", program took " + Printable(FirstArgument));
    bool named = false;
    for (const std::string& file : given)
        named = named || (!file.empty() && command == "\"" + file + facts::kCommandTail);
    FUZZ_CHECK(command.empty() || named, "stored " + Printable(command));
    return 0;
}
