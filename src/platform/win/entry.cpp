// Where the process starts. The program needs no C runtime: it is linked
// without one, and this is its entry point.
#include "app/startup.h"

extern "C" void __stdcall KompaktoEntry() { RunKompakto(); }
