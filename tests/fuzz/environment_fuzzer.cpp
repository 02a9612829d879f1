// The whole program, run on the fake with any %ProgramFiles% and
// %ProgramW6432%, with the viewer in the right place, in the wrong one, or
// nowhere.
//
// Input:
//   byte 0    bits 0-1  answer to the question: Yes, Yes, No, Cancel
//             bits 2-3  answer to the download offer: Yes, No, Cancel, 0
//             bit 4     silent switch on the command line
//             bit 5     %ProgramFiles% is defined
//             bit 6     %ProgramW6432% is defined
//             bit 7     decoys: each viewer's name under the other folder
//   byte 1    where viewer files are put:
//             bit 0     the 64-bit viewer under the expanded %ProgramW6432%
//             bit 1     the 32-bit viewer under the expanded %ProgramFiles%
//             bit 2     both at every path a cut-off copy would name: the
//                       candidate cut to 512 characters, the folder cut to
//                       511 or 512 characters followed by the name
//             bit 3     both at the unexpanded, relative candidates
//   bytes 2-3 shortest length of %ProgramFiles% (big-endian, up to 4096)
//   bytes 4-5 shortest length of %ProgramW6432%
//   the rest  the text of %ProgramFiles%, a zero, the text of %ProgramW6432%;
//             a text shorter than its length is padded with its last
//             character ('a' when empty).
//
// Checked: a stored command is '"', an existing viewer in an absolute folder,
// and the fixed tail, exactly the viewer plus 102 characters, and it names
// the first usable candidate (64-bit first); the download offer, with exit
// code 1, comes exactly when there is none. A candidate is usable when the
// expanded folder fits the program's 512-character buffers (the expansion
// with its zero, and the full path) and is absolute; a longer one counts as
// absent rather than being cut into some other path.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "checks.h"
#include "fake/fake.h"

namespace {

const size_t kLongestValue = 4096;
const size_t kBufferCharacters = 512;  // the program's path buffers, zero excluded

struct Folder {
    const char* variable;  // as written in the program's source text
    const char* viewer;    // the name of the viewer looked for there
    bool defined;
    std::string value;
    std::string expanded;  // what the expansion of "%variable%\" gives
    std::string used;      // what the program is left with: expanded, or unexpanded when too long
};

Folder MakeFolder(const char* variable, const char* viewer, bool defined, const std::string& value) {
    Folder f{variable, viewer, defined, value, "", ""};
    std::string unexpanded = std::string("%") + variable + "%\\";
    // One pass, a value is put in as it stands; an undefined name stays.
    f.expanded = defined ? value + "\\" : unexpanded;
    f.used = f.expanded.size() + 1 <= kBufferCharacters ? f.expanded : unexpanded;
    return f;
}

std::string TakeText(const uint8_t*& p, const uint8_t* end) {
    std::string text;
    while (p < end && *p != 0) text += static_cast<char>(*p++);
    if (p < end) p++;  // the zero between the two texts
    return text;
}

std::string Pad(std::string text, size_t length) {
    char fill = text.empty() ? 'a' : text.back();
    if (text.size() < length) text.append(length - text.size(), fill);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const unsigned control = data[0], placing = data[1];
    const size_t length32 = ((data[2] << 8) | data[3]) % (kLongestValue + 1);
    const size_t length64 = ((data[4] << 8) | data[5]) % (kLongestValue + 1);
    const uint8_t* p = data + 6;
    const uint8_t* end = data + size;
    const std::string text32 = TakeText(p, end);
    std::string text64;
    for (; p < end; p++) {
        if (*p != 0) text64 += static_cast<char>(*p);
    }

    const int question = Answer(control, {win::kIdYes, win::kIdYes, win::kIdNo, win::kIdCancel});
    const int download = Answer(control >> 2, {win::kIdYes, win::kIdNo, win::kIdCancel, 0});
    const bool silent = control & 0x10;
    const Folder f32 = MakeFolder("ProgramFiles", facts::kViewer32Name, control & 0x20, Pad(text32, length32));
    const Folder f64 = MakeFolder("ProgramW6432", facts::kViewer64Name, control & 0x40, Pad(text64, length64));

    FakeReset();
    FakeSetCommandLine(silent ? "kompakto.exe /s" : "kompakto.exe");
    for (const Folder* f : {&f32, &f64}) {
        if (f->defined) FakeSetEnv(f->variable, f->value);
        if (!f->defined) FakeUnsetEnv(f->variable);
    }

    if (placing & 1) FakeAddFile(f64.expanded + facts::kViewer64Name);
    if (placing & 2) FakeAddFile(f32.expanded + facts::kViewer32Name);
    if (placing & 4) {
        for (const Folder* f : {&f64, &f32}) {
            FakeAddFile((f->expanded + f->viewer).substr(0, kBufferCharacters));
            for (size_t cut : {kBufferCharacters - 1, kBufferCharacters}) {
                FakeAddFile(f->expanded.substr(0, cut) + f->viewer);
                FakeAddFile((f->expanded.substr(0, cut) + f->viewer).substr(0, kBufferCharacters));
            }
        }
    }
    if (placing & 8) {
        FakeAddFile(std::string("%ProgramW6432%\\") + facts::kViewer64Name);
        FakeAddFile(std::string("%ProgramFiles%\\") + facts::kViewer32Name);
    }
    if (control & 0x80) {
        FakeAddFile(f64.expanded + facts::kViewer32Name);
        FakeAddFile(f32.expanded + facts::kViewer64Name);
    }
    std::string viewer;
    for (const Folder* f : {&f64, &f32}) {
        std::string path = f->used + f->viewer;
        bool usable = IsAbsoluteFolderText(f->used) && path.size() <= kBufferCharacters && FakeFileExists(path);
        if (viewer.empty() && usable) viewer = path;
    }
    const std::string context = "ProgramFiles " + (f32.defined ? Printable(f32.value) : "(undefined)") +
                                ", ProgramW6432 " + (f64.defined ? Printable(f64.value) : "(undefined)") +
                                ", usable viewer " + (viewer.empty() ? "none" : Printable(viewer));
    const std::string command =
        RunAndCheck(question, download, question == win::kIdYes && viewer.empty(), silent, context);

    if (!command.empty()) {
        const std::string tail = facts::kCommandTail;
        FUZZ_CHECK(command.size() > tail.size() + 1 && command[0] == '"' &&
                       command.compare(command.size() - tail.size(), tail.size(), tail) == 0,
                   context + ", stored " + Printable(command));
        const std::string named = command.substr(1, command.size() - 1 - tail.size());
        FUZZ_CHECK(command.size() == named.size() + 102, context);
        FUZZ_CHECK(FakeFileExists(named), context + ", stored a viewer that is not there: " + Printable(named));
        FUZZ_CHECK(IsAbsoluteFolderText(named), context + ", stored a relative viewer: " + Printable(named));
        FUZZ_CHECK(named == viewer, context + ", stored " + Printable(named));
    }
    return 0;
}
