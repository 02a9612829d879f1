# Cross-compiling with mingw-w64 for KOMPAKTO_MINGW_CPU: i686 for kompakto.exe
# and the 32-bit helpers of the tests, x86_64 for the 64-bit helpers.
# KOMPAKTO_MINGW_THREADS "posix" takes the compilers of that thread flavour,
# which GoogleTest needs (the default one has no std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KOMPAKTO_MINGW_CPU})
set(flavour "")
if(KOMPAKTO_MINGW_THREADS)
  set(flavour -${KOMPAKTO_MINGW_THREADS})
endif()
set(CMAKE_C_COMPILER ${KOMPAKTO_MINGW_CPU}-w64-mingw32-gcc${flavour})
set(CMAKE_CXX_COMPILER ${KOMPAKTO_MINGW_CPU}-w64-mingw32-g++${flavour})
set(CMAKE_RC_COMPILER ${KOMPAKTO_MINGW_CPU}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KOMPAKTO_MINGW_CPU}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The compiler checks run this file again in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KOMPAKTO_MINGW_CPU KOMPAKTO_MINGW_THREADS)
