// The yardstick: a program that does nothing but show one message box, built
// with the same compiler and options as kompakto.exe.
#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
    return MessageBoxW(nullptr, L"Bench", L"Kompakto bench", MB_OK) == 0;
}
