/* Stands in for the image viewer (and for a web browser): writes how it was
 * started to a file and exits with 0, so a test can see exactly what the
 * real program would have received.
 *
 * The file is C:\standin-args.txt; UTF-8, one line each:
 *   exe=<this program's own path>
 *   cmdline=<the raw command line>
 *   argc=<count>
 *   argv[i]=<argument i, as CommandLineToArgvW splits the command line>
 * It is written whole (WhWriteWhole), so a reader never sees half of it. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// After windows.h, which they build on.
#include <shellapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include "../winhelp.h"

static char g_text[65536];
static int g_length;

/* Adds format, filled in, to the text as UTF-8. */
static void Add(const wchar_t* format, ...) {
    static wchar_t line[40000];
    va_list args;
    va_start(args, format);
    vswprintf(line, ARRAYSIZE(line), format, args);
    va_end(args);
    int room = (int)sizeof(g_text) - g_length - 1;
    int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, g_text + g_length, room, NULL, NULL);
    if (n > 0) g_length += n - 1; /* without the zero */
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show) {
    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    const wchar_t* commandLine = GetCommandLineW();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    Add(L"exe=%ls\ncmdline=%ls\nargc=%d\n", self, commandLine, argc);
    for (int i = 0; argv && i < argc; i++) Add(L"argv[%d]=%ls\n", i, argv[i]);
    LocalFree(argv);
    return WhWriteWhole(L"C:\\standin-args.txt", g_text, (DWORD)g_length) ? 0 : 3;
}
