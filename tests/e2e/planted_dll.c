/* Planted next to kompakto.exe under the name of a system DLL, as a
 * downloads folder may hold one: loaded, it leaves C:\planted-dll-loaded.txt. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        CloseHandle(CreateFileW(L"C:\\planted-dll-loaded.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    }
    return TRUE;
}
