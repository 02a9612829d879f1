// The program's version: its captions and texts, its version record
// (res/kompakto.rc) and the build (CMakeLists.txt) all take it from here.
#ifndef KOMPAKTO_VERSION_H
#define KOMPAKTO_VERSION_H

#define KOMPAKTO_VERSION_MAJOR 1
#define KOMPAKTO_VERSION_MINOR 1
#define KOMPAKTO_VERSION_PATCH 0
#define KOMPAKTO_VERSION_BUILD 0

#define KOMPAKTO_TEXT_(x) #x
#define KOMPAKTO_TEXT(x) KOMPAKTO_TEXT_(x)
// "1.1.0.0"
#define KOMPAKTO_VERSION_TEXT                                                                              \
    KOMPAKTO_TEXT(KOMPAKTO_VERSION_MAJOR)                                                                  \
    "." KOMPAKTO_TEXT(KOMPAKTO_VERSION_MINOR) "." KOMPAKTO_TEXT(KOMPAKTO_VERSION_PATCH) "." KOMPAKTO_TEXT( \
        KOMPAKTO_VERSION_BUILD)
// 1,1,0,0
#define KOMPAKTO_VERSION_NUMBERS \
    KOMPAKTO_VERSION_MAJOR, KOMPAKTO_VERSION_MINOR, KOMPAKTO_VERSION_PATCH, KOMPAKTO_VERSION_BUILD

#endif
