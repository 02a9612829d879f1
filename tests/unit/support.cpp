#include "support.h"

#include <gtest/gtest.h>

#include "platform/fake/fake.h"

std::string Cp1252(const std::string& utf8) {
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

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); i++) {
        if (i) text += '\r';
        text += lines[i];
    }
    return text;
}

std::vector<std::string> CallNames() { return CallNamesOf(""); }

std::vector<std::string> CallNamesOf(const std::string& prefix) {
    std::vector<std::string> names;
    for (const FakeCall& call : FakeCalls()) {
        if (call.op.compare(0, prefix.size(), prefix) == 0) names.push_back(call.op);
    }
    return names;
}
