// The states of the contract's rows (tests/contract.h), set up in the fake.
#include "contract.h"
#include "fake/fake.h"

void ContractSetUp() {
    FakeReset();
    for (const char* name : {"plain\\a\\inner", "plain\\b", "leaf", "locked\\open", "volatile"}) {
        FakeAddKey(Scratch(name));
    }
    FakeLockKey(Scratch("locked"));
    FakeMakeKeyVolatile(Scratch("volatile"));
    const std::string plain = Scratch("plain");
    FakeSetTypedValue(plain, "v", win::kRegDword, std::string("\x01\0\0\0", 4));
    FakeSetTypedValue(plain, "all", win::kRegSz, AllBytes() + '\0');
    FakeSetTypedValue(plain, "expand", win::kRegExpandSz, std::string("<%") + kExpandVariable + "%>" + '\0');
    FakeSetEnv(kExpandVariable, AllBytes("%"));
    // The fake holds Windows-1252 bytes: half a letter is no letter at all.
    FakeSetTypedValue(plain, "bare", win::kRegSz, "abc");
    FakeSetTypedValue(plain, "odd", win::kRegSz, "abc");
    for (int i = 0; i < 2; i++) {
        FakeSetValue(FakeMachineKey(kMachineViews[i], kMachineKeys[i]), "v", kMachineKeys[i]);
    }
    FakeAddFolder(kScratchFolder);
    for (const std::string& file : EveryLetterFiles()) FakeAddFile(file);
}

void ContractTearDown() {}

bool ContractStoreLetterWindows1252Lacks(int index) {
    if (index > 0) return false;
    FakeSetTypedValue(Scratch("plain"), "lacks", win::kRegSz, std::string("x?y") + '\0', false);
    FakeSetEnv(kLacksVariable, "C:\\Program Files?x\\", false);
    return true;
}

bool ContractKeyExists(const std::string& path) { return FakeKeyExists(path); }
bool ContractValueExists(const std::string& path, const char* name) { return FakeHasValue(path, name); }
uint32_t ContractGrantedAccess(OsKey key) { return FakeGrantedAccess(key); }
bool ContractHasTwoViews() { return true; }  // the fake's Windows, as FakeReset leaves it, is 64-bit
bool ContractIsWine() { return false; }

// Every test starts on a fresh machine: what these change needs no undoing.
void ContractUseUnseenWindowStation(bool unseen) {
    if (unseen) FakeHideWindowStation();
}
void ContractSilenceWindowStation(bool silent) {
    if (silent) FakeFailOp(kOpBoxesCanBeSeen, 0, 0);
}
void ContractAnswerNextBox(int button) { FakeQueueAnswer(button); }

std::string ContractProgramToOpen() {
    const std::string program = std::string(kScratchFolder) + "\\program.exe";
    FakeAddFile(program);
    return program;
}
void ContractProgramOpened() {}
