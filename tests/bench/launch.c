/* Times programs from their start until their first message box is there.
 *
 *   bench-launch.exe ROUNDS CAPTION1 PROGRAM1 [CAPTION2 PROGRAM2 ...]
 *
 * Runs one warm-up round and then ROUNDS rounds; every round starts each
 * program once, in turn (every other round in the opposite order, so that
 * neither always runs first). For one start: read QueryPerformanceCounter,
 * CreateProcessW the program, look every millisecond for a top-level window
 * of class "#32770" with the given caption that belongs to the new process,
 * read the counter again, press Cancel on the box (Close when that does not
 * end it, then end the process) and wait for the program to exit.
 *
 * Prints one line per start: "time ROUND INDEX MICROSECONDS EXITCODE CLOSING",
 * round 0 being the warm-up and CLOSING the microseconds from finding the box
 * until the process ended; and "fail ROUND INDEX REASON" when no box came. Exits
 * with 1 after any failure. Run it with its output going to a file, not a
 * pipe (Wine's helper processes keep a pipe open).
 */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

enum { kBoxWaitMs = 20000, kExitWaitMs = 5000 };

static LARGE_INTEGER frequency;

static double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    return (double)(to.QuadPart - from.QuadPart) * 1e6 / (double)frequency.QuadPart;
}

/* The box with this caption that the process owns, if it is there yet. */
static HWND FindBox(const wchar_t* caption, DWORD processId) {
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, L"#32770", caption)) != NULL) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) return window;
    }
    return NULL;
}

static void Close(HWND box, HANDLE process) {
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(process, kExitWaitMs) == WAIT_OBJECT_0) return;
    PostMessageW(box, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process, kExitWaitMs) == WAIT_OBJECT_0) return;
    TerminateProcess(process, 99);
    WaitForSingleObject(process, kExitWaitMs);
}

/* One start; returns 0 on success. */
static int TimeOne(int round, int index, const wchar_t* caption, const wchar_t* program) {
    wchar_t commandLine[MAX_PATH + 3];
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER start, now, found;
    HWND box = NULL;
    DWORD exitCode = 0;

    _snwprintf(commandLine, MAX_PATH + 2, L"\"%ls\"", program);
    commandLine[MAX_PATH + 2] = 0;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;

    QueryPerformanceCounter(&start);
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        printf("fail %d %d CreateProcess error %lu\n", round, index, GetLastError());
        return 1;
    }
    for (;;) {
        box = FindBox(caption, process.dwProcessId);
        QueryPerformanceCounter(&now);
        if (box) break;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &exitCode);
            printf("fail %d %d exited with %lu before its box appeared\n", round, index, exitCode);
            break;
        }
        if (Microseconds(start, now) > kBoxWaitMs * 1000.0) {
            printf("fail %d %d no box within %d ms\n", round, index, kBoxWaitMs);
            TerminateProcess(process.hProcess, 98);
            WaitForSingleObject(process.hProcess, kExitWaitMs);
            break;
        }
        Sleep(1);
    }
    found = now;
    if (box) {
        Close(box, process.hProcess);
        QueryPerformanceCounter(&now);
        GetExitCodeProcess(process.hProcess, &exitCode);
        printf("time %d %d %.0f %lu %.0f\n", round, index, Microseconds(start, found), exitCode,
               Microseconds(found, now));
    }
    fflush(stdout);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return box ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    int rounds, programs, round, k, failed = 0;
    if (argc < 4 || argc % 2 != 0 || (rounds = _wtoi(argv[1])) < 1) {
        fprintf(stderr, "usage: bench-launch ROUNDS CAPTION PROGRAM [CAPTION PROGRAM ...]\n");
        return 2;
    }
    programs = (argc - 2) / 2;
    QueryPerformanceFrequency(&frequency);
    for (round = 0; round <= rounds; round++) {
        for (k = 0; k < programs; k++) {
            int index = round % 2 ? programs - 1 - k : k;
            failed |= TimeOne(round, index, argv[2 + 2 * index], argv[3 + 2 * index]);
        }
    }
    return failed;
}
