// The numbers of Windows that the tests name: buttons, errors, rights, value
// types, attributes. Written once, from Microsoft's documentation, and apart
// from src/platform/platform.h: a wrong number there makes the program
// disagree with the tests instead of agreeing with them.
//
// tests/facts.py reads this file for the Python tests, as it reads facts.h:
// one constant a line, a number; kIdYes is ID_YES there.
#ifndef KOMPAKTO_TEST_WINDOWS_NUMBERS_H
#define KOMPAKTO_TEST_WINDOWS_NUMBERS_H

#include <stdint.h>

namespace win {

// The buttons a message box answers with.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// System error codes, as the registry functions return them.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorMoreData = 234;
constexpr long kErrorKeyDeleted = 1018;
constexpr long kErrorChildMustBeVolatile = 1021;
constexpr long kErrorNoUnicodeTranslation = 1113;
constexpr long kErrorUnsupportedType = 1630;

// ShellExecute's results: an error up to kShellExecuteLastError.
constexpr intptr_t kSeErrFileNotFound = 2;
constexpr intptr_t kSeErrNoAssoc = 31;  // no program for the address
constexpr intptr_t kShellExecuteLastError = 32;

// The registry: the predefined key, rights and value types.
constexpr uint32_t kHkeyCurrentUser = 0x80000001;
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kKeyRead = 0x20019;       // query values, enumerate and be notified, read the access list
constexpr uint32_t kKeyAllAccess = 0xF003F;  // every right of a key
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;

// File attributes.
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeNormal = 0x80;

// The DPI awareness contexts.
constexpr intptr_t kDpiAwarenessContextUnaware = -1;
constexpr intptr_t kDpiAwarenessContextSystemAware = -2;
constexpr intptr_t kDpiAwarenessContextPerMonitorAware = -3;
constexpr intptr_t kDpiAwarenessContextPerMonitorAwareV2 = -4;
constexpr intptr_t kDpiAwarenessContextUnawareGdiScaled = -5;

}  // namespace win

#endif
