// A stand-in for Windows, for running the program's decisions on Linux. It
// keeps a small registry, environment and file system, answers the boxes from
// a queue, records every call, and fails the calls it is told to fail.
#ifndef KOMPAKTO_FAKE_H
#define KOMPAKTO_FAKE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"

struct FakeCall {
    std::string op;      // the operation's name, e.g. "RegCreateKeyEx"
    std::string detail;  // its arguments as text
    bool failed;
};

struct FakeBox {
    std::string via;  // "MessageBoxIndirect", "MessageBox" or "MessageBoxTimeout"
    bool hasOwner;
    bool isDesktopOwner;
    bool hasInstance;
    std::string text;
    std::string caption;
    uint32_t style;
    std::string iconName;
    uint32_t contextHelpId;
    uint32_t language;
    uint32_t timeoutMs;
};

// Back to a fresh machine: 64-bit Windows (both program-files variables set),
// an empty HKEY_CURRENT_USER\SOFTWARE\Classes, no viewer, command line
// "kompakto.exe", no answers queued, no failures.
void FakeReset();

void FakeSetCommandLine(const std::string& commandLine);
void FakeSetEnv(const std::string& name, const std::string& value);
void FakeUnsetEnv(const std::string& name);
void FakeAddFile(const std::string& path);
void FakeQueueAnswer(int button);  // the next box returns this; without one a box returns 0
void FakeSetUser32Loadable(bool loadable);
void FakeSetTimeoutBoxExported(bool exported);

// The callNumber-th call (counting from 1) fails; with fromThereOn every later
// call fails too. 0 turns failing off.
void FakeFailCall(int callNumber, bool fromThereOn);

// Registry, paths relative to HKEY_CURRENT_USER, compared without case.
void FakeAddKey(const std::string& path);
void FakeSetValue(const std::string& path, const std::string& name, const std::string& text);
void FakeLockKey(const std::string& path);  // deleting it, or writing into it, is refused
bool FakeKeyExists(const std::string& path);
bool FakeGetValue(const std::string& path, const std::string& name, std::string* text);
std::string FakeRegistryDump();  // every key and value, one a line, sorted

// Runs the program to its end and returns the exit code.
int FakeRun();

const std::vector<FakeCall>& FakeCalls();
const std::vector<FakeBox>& FakeBoxes();
const std::vector<std::string>& FakeOpenedAddresses();
int FakeOpenKeyHandles();
int FakeLoadedLibraries();

#endif
