# How kompakto.exe is compiled and linked, for it and for the bench's
# yardstick: a 32-bit GUI program without the C runtime, entered at entry (a
# __stdcall function without arguments), importing nothing but system DLLs,
# with ASLR, DEP, no SEH handlers and terminal-server awareness, and no time
# stamp. The compiler is kept from turning loops into calls of C library
# functions. kompakto_windows_compile alone is how its sources are compiled,
# for the tests of the Windows operations too, which link its os_win.cpp.
function(kompakto_windows_compile target)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
  target_compile_options(${target} PRIVATE -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
                         -fno-tree-loop-distribute-patterns -ffunction-sections)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
endfunction()

function(kompakto_windows_program target entry)
  kompakto_windows_compile(${target})
  target_link_options(${target} PRIVATE -s -nostartfiles -nostdlib -static-libgcc -static-libstdc++
                      -Wl,-e,_${entry}@0 -Wl,--gc-sections -Wl,--no-insert-timestamp
                      -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-seh -Wl,--tsaware)
  target_link_libraries(${target} PRIVATE kernel32 user32 gcc)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
endfunction()

# The icon and the version record (res/kompakto.rc), compiled by windres into
# an object of their own and linked into target; the images and the group
# directory come ready-made from res/make_icon.py. Read in code page 1252 for
# the copyright sign.
function(kompakto_resources target)
  set(res_dir ${PROJECT_SOURCE_DIR}/res)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${target}_res.o)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} --codepage=1252 --include-dir=${res_dir} --include-dir=${PROJECT_SOURCE_DIR}/src
            --input=${res_dir}/kompakto.rc --output-format=coff --output=${object}
    DEPENDS ${res_dir}/kompakto.rc
            ${PROJECT_SOURCE_DIR}/src/app/version.h
            ${res_dir}/icon/group.bin
            ${res_dir}/icon/image1-33x32.bin
            ${res_dir}/icon/image2-48x48.bin
            ${res_dir}/icon/image3-16x16.bin
    COMMENT "Compiling the icon and the version record"
    VERBATIM)
  target_sources(${target} PRIVATE ${object})
endfunction()
