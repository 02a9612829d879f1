// What Windows answers for every operation of src/platform/platform.h whose
// answer the program decides on, as one table of rows: an operation, in a
// state, and the answer Windows gives. The same rows run against the Windows
// layer under Wine (tests/oswin) and against the fake (tests/unit), so that
// the fake cannot drift from Windows. Each backend sets the states up its own
// way, through the procedures below; all keys lie below kScratchKey of
// HKEY_CURRENT_USER, but for two of HKEY_LOCAL_MACHINE, and all files in
// kScratchFolder.
#ifndef KOMPAKTO_CONTRACT_H
#define KOMPAKTO_CONTRACT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "windows_numbers.h"

constexpr char kScratchKey[] = "Software\\Kompakto layer test";
// Below HKEY_LOCAL_MACHINE, one in each view; each has its own path as the
// REG_SZ value v.
constexpr const char* kMachineKeys[] = {"Software\\Kompakto layer test 64", "Software\\Kompakto layer test 32"};
constexpr OsRegistryView kMachineViews[] = {kRegistryView64, kRegistryView32};
constexpr char kExpandVariable[] = "KOMPAKTO_LAYER_TEXT";     // holds every letter but %
constexpr char kLacksVariable[] = "KOMPAKTO_LAYER_FOLDER";    // see ContractStoreLetterWindows1252Lacks
constexpr char kScratchFolder[] = "C:\\kompakto-layer-test";  // the current folder of the Windows layer's tests

// Every byte from first on (zero never), in order, less those in without.
std::string AllBytes(const char* without = "", int first = 1);
std::string Scratch(const char* name);
// The files of the state "every letter": each named f and a slice of the
// letters a file name may hold.
std::vector<std::string> EveryLetterFiles();
// A key below kScratchKey opened through the operations under test; the
// result of opening, creating or deleting one (-1 when a delete answered
// success but left the key), which is closed again.
OsKey Open(const char* name, uint32_t access);
long OpenAs(const char* name, uint32_t access);
long Create(const char* name);
long DeleteKeyOf(const char* name);

// The states, set up below kScratchKey:
//   plain     a key with the sub keys a (with its own sub key inner) and b;
//             a REG_DWORD v; texts: all
//             (AllBytes() with its zero), expand (a REG_EXPAND_SZ
//             "<%KOMPAKTO_LAYER_TEXT%>"), bare (abc without a zero), odd (abc,
//             half a letter and no zero)
//   leaf      a key without sub keys
//   locked    a key whose access list lets everyone only read it, with the
//             sub key open, whose own access list lets everyone do anything
//   volatile  a key that lasts only until Windows restarts
// the two machine keys, the variable kExpandVariable, and in kScratchFolder
// the files of EveryLetterFiles(). ContractTearDown takes away what would
// outlast a case.
void ContractSetUp();
void ContractTearDown();
// Stores in plain the REG_SZ lacks: x, the index-th of the letters that
// Windows-1252 lacks that are tried, and y; and sets kLacksVariable to a
// folder named with it. False past the last.
bool ContractStoreLetterWindows1252Lacks(int index);
bool ContractKeyExists(const std::string& path);
bool ContractValueExists(const std::string& path, const char* name);
// The rights a handle was opened with, without the flags that choose a view.
uint32_t ContractGrantedAccess(OsKey key);
// Whether HKEY_LOCAL_MACHINE has two views: 64-bit Windows.
bool ContractHasTwoViews();
// Whether this run is against the Windows layer under Wine, which answers
// some rows otherwise than Windows does.
bool ContractIsWine();
// Moves this process into a window station of its own that nobody sees, as
// a service's is, or back.
void ContractUseUnseenWindowStation(bool unseen);
// Has Windows not tell the window station's flags, or tell them again.
void ContractSilenceWindowStation(bool silent);
// The next box of this thread, if one is shown, is answered with button.
void ContractAnswerNextBox(int button);
// The path of a program that opens and ends by itself; and after it was
// opened, the state taken back.
std::string ContractProgramToOpen();
void ContractProgramOpened();

class Contract : public testing::Test {
  protected:
    void SetUp() override { ContractSetUp(); }
    void TearDown() override { ContractTearDown(); }
};

#endif
