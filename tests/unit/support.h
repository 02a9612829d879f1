// Helpers shared by the unit tests.
#ifndef KOMPAKTO_TEST_SUPPORT_H
#define KOMPAKTO_TEST_SUPPORT_H

#include <string>
#include <vector>

// The Windows-1252 form of a UTF-8 text that holds only ASCII and Latin-1
// letters; the tests write the expected texts readably and compare bytes.
std::string Cp1252(const std::string& utf8);

// Lines joined by a single carriage return.
std::string JoinLines(const std::vector<std::string>& lines);

// The names of the calls recorded since the last reset, in order.
std::vector<std::string> CallNames();
std::vector<std::string> CallNamesOf(const std::string& prefix);

const char* const kVerbCommandKeyPath =
    "SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)\\command";
const char* const kVerbKeyPath = "SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)";
const char* const kFolderVerbKeyPath = "SOFTWARE\\Classes\\Directory\\shell\\JPG-Web (IrfanView)";
const char* const kFolderVerbCommandKeyPath = "SOFTWARE\\Classes\\Directory\\shell\\JPG-Web (IrfanView)\\command";
const char* const kViewer64Path = "C:\\Program Files\\IrfanView\\I_view64.exe";
const char* const kViewer32Path = "C:\\Program Files (x86)\\IrfanView\\I_view32.exe";

#endif
