#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "fake/fake.h"

// The Windows-1252 form of a UTF-8 text that holds only ASCII and Latin-1
// letters.
static std::string Cp1252(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); i++) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            unsigned char next = static_cast<unsigned char>(utf8[++i]);
            out += static_cast<char>(((c & 0x1F) << 6) | (next & 0x3F));
        } else {
            ADD_FAILURE() << "no Latin-1 letter at byte " << i;
        }
    }
    return out;
}

// texts.txt, read once: "== name ==" begins a text, "<name>" stands for an
// earlier one, "#" lines before the first text are comments.
static std::map<std::string, std::vector<std::string>> ReadTexts() {
    std::map<std::string, std::vector<std::string>> texts;
    std::ifstream file(KOMPAKTO_TEXTS_FILE);
    EXPECT_TRUE(file.good()) << KOMPAKTO_TEXTS_FILE;
    std::vector<std::string>* current = nullptr;
    auto close = [&current] {  // a text ends with its last line that is not empty
        while (current && !current->empty() && current->back().empty()) current->pop_back();
    };
    for (std::string line; std::getline(file, line);) {
        if (line.size() > 6 && line.compare(0, 3, "== ") == 0 && line.compare(line.size() - 3, 3, " ==") == 0) {
            close();
            current = &texts[line.substr(3, line.size() - 6)];
        } else if (current && line.size() > 2 && line.front() == '<' && line.back() == '>') {
            const std::vector<std::string>& earlier = texts.at(line.substr(1, line.size() - 2));
            current->insert(current->end(), earlier.begin(), earlier.end());
        } else if (current) {
            current->push_back(line);
        }
    }
    close();
    return texts;
}

std::string ExpectedText(const std::string& name) {
    static const std::map<std::string, std::vector<std::string>> texts = ReadTexts();
    auto text = texts.find(name);
    if (text == texts.end()) {
        ADD_FAILURE() << "no text \"" << name << "\" in texts.txt";
        return std::string();
    }
    std::string joined;
    for (size_t i = 0; i < text->second.size(); i++) joined += (i ? "\r" : "") + text->second[i];
    return Cp1252(joined);
}

std::vector<std::string> CallNamesOf(const std::string& prefix) {
    std::vector<std::string> names;
    for (const FakeCall& call : FakeCalls()) {
        if (call.op.compare(0, prefix.size(), prefix) == 0) names.push_back(call.op);
    }
    return names;
}

std::vector<std::string> CallDetailsOf(const std::string& op) {
    std::vector<std::string> details;
    for (const FakeCall& call : FakeCalls()) {
        if (call.op == op) details.push_back(call.detail);
    }
    return details;
}

bool ReadsTheViewersEntries(const FakeCall& call) {
    std::string entries = facts::kUninstallKey32;  // both entries' keys begin so
    std::string detail = call.detail;
    for (std::string* text : {&entries, &detail}) std::transform(text->begin(), text->end(), text->begin(), ::tolower);
    bool reads = call.op == "RegOpenKeyEx" || call.op == "RegOpenMachineKey" || call.op == "RegQueryString" ||
                 call.op == "RegCloseKey";
    return reads && detail.find(entries) != std::string::npos;
}

std::vector<std::string> RegistryCallsBesidesTheSearch() {
    std::vector<std::string> calls;
    for (const FakeCall& call : FakeCalls()) {
        if (call.op.compare(0, 3, "Reg") == 0 && !ReadsTheViewersEntries(call))
            calls.push_back(call.op + " " + call.detail);
    }
    return calls;
}

std::string ExpectedCommand(const std::string& viewer) { return "\"" + viewer + facts::kCommandTail; }

std::string StoredText(const std::string& key, const std::string& name) {
    std::string text;
    return FakeGetString(key, name, &text) ? text : "<none>";
}

std::string StoredCommand() { return StoredText(facts::kVerbCommandKey, ""); }

std::string LastCaption() { return FakeBoxes().empty() ? "" : FakeBoxes().back().caption; }

int RunAnswering(int answer, const char* commandLine, int offerAnswer) {
    FakeSetCommandLine(commandLine);
    FakeQueueAnswer(answer);
    if (offerAnswer != kNoSecondBox) FakeQueueAnswer(offerAnswer);
    FakeEnd end = FakeRun();
    EXPECT_EQ("", end.leftOpen);
    return end.code;
}

// Every test starts on a fresh machine.
class ResetTheFake : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& /*test*/) override { FakeReset(); }
};

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetTheFake);
    return RUN_ALL_TESTS();
}
