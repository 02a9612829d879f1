# The groups of checks that `make test` runs, each registered here, in the
# linux tree, as one CTest test labelled with its name, in the order they run:
#   ctest --preset test -N          lists them
#   ctest --preset test -L e2e      runs one (once its trees are built: make e2e
#                                   builds them and runs it)
# Each runs through tools/results.py, which keeps its cases' results as JUnit
# XML in results/GROUP.xml of this tree and fails a group that ran no case.
# A group that starts Wine takes the resource "wine": never two at once (the
# Wine session also takes a lock of the machine's, tools/winesession.py).
# The trees' folders are read from CMakePresets.json, where they are named.

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CMakePresets.json)
file(READ ${PROJECT_SOURCE_DIR}/CMakePresets.json kompakto_presets)

# The folder of the tree name (its configure preset's binaryDir), into result.
function(kompakto_tree name result)
  string(JSON count LENGTH "${kompakto_presets}" configurePresets)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    string(JSON preset GET "${kompakto_presets}" configurePresets ${index} name)
    if(preset STREQUAL name)
      string(JSON folder GET "${kompakto_presets}" configurePresets ${index} binaryDir)
      string(REPLACE "\${sourceDir}" "${PROJECT_SOURCE_DIR}" folder "${folder}")
      set(${result} ${folder} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "CMakePresets.json has no tree ${name}")
endfunction()

set(python /usr/bin/python3)

# kompakto_group(NAME [WINE] [ENVIRONMENT VAR=VALUE...] RUN ARGUMENTS...):
# ARGUMENTS are those of tools/results.py after the group's name.
function(kompakto_group name)
  cmake_parse_arguments(PARSE_ARGV 1 group "WINE" "" "ENVIRONMENT;RUN")
  add_test(NAME ${name} COMMAND ${python} tools/results.py ${name} ${group_RUN}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS ${name} ENVIRONMENT "${group_ENVIRONMENT}")
  if(group_WINE)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine)
  endif()
endfunction()

kompakto_tree(checked checked)
kompakto_tree(windows windows)

kompakto_group(unit RUN --gtest -- $<TARGET_FILE:unit_tests>)
kompakto_group(sanitize RUN --gtest -- ${checked}/tests/unit/unit_tests
               ENVIRONMENT ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1)
# Each fuzz target once over its committed corpus.
kompakto_group(fuzz-corpus RUN -- sh tests/fuzz/run.sh corpus)
kompakto_group(resources RUN -- ${python} tests/resources/check_resources.py ${windows}/kompakto.exe)
kompakto_group(repro RUN -- sh tools/repro.sh)
# The tools' own decisions (the emulator's, the install's), on stand-ins.
kompakto_group(tools RUN --unittest tests/tools)
kompakto_group(e2e WINE RUN -- ${python} tests/e2e/e2e.py)
kompakto_group(windows-layer WINE RUN -- ${python} tests/e2e/e2e.py --layer)
kompakto_group(release WINE RUN -- ${python} tests/release/check_release.py)
