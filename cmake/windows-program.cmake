# How kompakto.exe is compiled and linked, for it and for the bench's
# yardstick: a 32-bit GUI program without the C runtime, entered at entry (a
# __stdcall function without arguments), importing nothing but system DLLs,
# with ASLR, DEP, no SEH handlers and terminal-server awareness, and no time
# stamp. The compiler is kept from turning loops into calls of C library
# functions.
function(kompakto_windows_program target entry)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  target_compile_options(${target} PRIVATE -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
                         -fno-tree-loop-distribute-patterns -ffunction-sections)
  target_link_options(${target} PRIVATE -s -nostartfiles -nostdlib -static-libgcc -static-libstdc++
                      -Wl,-e,_${entry}@0 -Wl,--gc-sections -Wl,--no-insert-timestamp
                      -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-seh -Wl,--tsaware)
  target_link_libraries(${target} PRIVATE kernel32 user32 gcc)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
endfunction()
