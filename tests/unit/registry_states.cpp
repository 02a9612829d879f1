// The states of the registry rows (tests/registry_rows.h), set up in the fake.
#include "fake/fake.h"
#include "registry_rows.h"

void RegistrySetUp() {
    FakeReset();
    for (const char* name : {"plain\\a\\inner", "plain\\b", "leaf", "locked", "volatile"}) FakeAddKey(Scratch(name));
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
}

void RegistryTearDown() {}

bool RegistryStoreLetterWindows1252Lacks(int index) {
    if (index > 0) return false;
    FakeSetTypedValue(Scratch("plain"), "lacks", win::kRegSz, std::string("x?y") + '\0', false);
    return true;
}

bool RegistryKeyExists(const std::string& path) { return FakeKeyExists(path); }
bool RegistryValueExists(const std::string& path, const char* name) { return FakeHasValue(path, name); }
uint32_t RegistryGrantedAccess(OsKey key) { return FakeGrantedAccess(key); }
bool RegistryHasTwoViews() { return true; }  // the fake's Windows, as FakeReset leaves it, is 64-bit
bool RegistryIsWine() { return false; }
