// The yardstick: a program that does nothing but show one message box,
// built as kompakto.exe is.
#include <windows.h>

extern "C" void __stdcall BenchEntry() { ExitProcess(MessageBoxW(nullptr, L"Bench", L"Kompakto bench", MB_OK) == 0); }
