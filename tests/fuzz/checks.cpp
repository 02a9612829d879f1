#include "checks.h"

#include <stdio.h>
#include <stdlib.h>

#include "fake/fake.h"

void FuzzFail(const char* condition, const std::string& message, const char* file, int line) {
    fprintf(stderr, "\n%s:%d: check failed: %s\n  %s\n  calls:\n", file, line, condition, message.c_str());
    for (const FakeCall& call : FakeCalls()) {
        fprintf(stderr, "    %s%s %s\n", call.failed ? "(failed) " : "", call.op.c_str(),
                Printable(call.detail).c_str());
    }
    abort();
}

bool IsAbsoluteFolderText(const std::string& path) {
    if (path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && path[2] == '\\')
        return true;
    return path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

std::string Printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text.size() > 600 && i == 280) {
            out += "...(" + std::to_string(text.size()) + " characters)...";
            i = text.size() - 280;
        }
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

static int BoxesCaptioned(const std::string& caption) {
    int count = 0;
    for (const FakeBox& box : FakeBoxes()) count += box.caption == caption;
    return count;
}

std::string RunAndCheck(int question, int download, bool offered, bool silent, const std::string& context) {
    FakeQueueAnswer(question);
    FakeQueueAnswer(download);
    FakeQueueAnswer(0);
    const FakeEnd end = FakeRun();
    const int code = end.code;
    int expectedCode = facts::kExitDone;
    if (offered) expectedCode = facts::kExitNoViewer;
    if (question == 0) expectedCode = facts::kExitQuestionNotShown;
    FUZZ_CHECK(code == expectedCode, context + ", exit code " + std::to_string(code));
    FUZZ_CHECK(!FakeBoxes().empty() && FakeBoxes()[0].caption == facts::kQuestionCaption, context);
    FUZZ_CHECK(BoxesCaptioned(facts::kQuestionCaption) == 1, context);
    FUZZ_CHECK(BoxesCaptioned(facts::kDownloadCaption) == (offered ? 1 : 0), context);
    FUZZ_CHECK(FakeOpenedAddresses().size() == (offered && download == win::kIdYes ? 1u : 0u), context);

    std::string command;
    const bool stored = FakeGetString(facts::kVerbCommandKey, "", &command);
    FUZZ_CHECK(stored == FakeKeyExists(facts::kVerbCommandKey),
               "a command key without a proper text: " + Printable(FakeRegistryDump()));
    FUZZ_CHECK(stored == (question == win::kIdYes && !offered), context);
    if (question != win::kIdYes) FUZZ_CHECK(!FakeKeyExists(facts::kVerbKey), context);

    const bool acted = !offered && (question == win::kIdYes || question == win::kIdNo);
    FUZZ_CHECK(BoxesCaptioned(facts::kConfirmCaption) == (acted && !silent ? 1 : 0),
               context + (silent ? ": silent, yet confirmed" : ": not silent, yet no confirmation"));
    FUZZ_CHECK(end.leftOpen.empty(), context + ", left open: " + end.leftOpen);
    return command;
}
