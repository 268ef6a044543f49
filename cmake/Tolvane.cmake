# Shared helpers for the folder CMakeLists.

# Warnings are errors only where our own scripts ask for it: a user's or a
# packager's build must not fail on a new compiler's warning.
option(TOLVANE_WERROR "Treat compiler warnings as errors" OFF)
set(TOLVANE_WARNINGS -Wall -Wextra -Wpedantic)
# GCC 12 at -O3 reports overlapping copies inside std::string's operator+
# that cannot happen (GCC bug 105651); the warning says nothing about our code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND TOLVANE_WARNINGS -Wno-restrict)
endif()
if(TOLVANE_WERROR)
  list(APPEND TOLVANE_WARNINGS -Werror)
endif()

function(tolvane_warnings target)
  target_compile_options(${target} PRIVATE ${TOLVANE_WARNINGS})
endfunction()

# tolvane_library(<name> <folder-glob...> LIBS <deps...> POSIX <files...> WIN <files...>)
# A static library from every *.cpp matched by the globs (relative to the
# calling folder), plus the twins listed for the platform built for. New
# files are picked up without touching CMake; a twin (*_posix.cpp,
# *_win.cpp) enters only through its list.
function(tolvane_library name)
  cmake_parse_arguments(A "" "" "GLOBS;EXCLUDE;LIBS;PUBLIC_INCLUDE;POSIX;WIN" ${ARGN})
  set(srcs)
  foreach(g ${A_GLOBS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${g})
    list(APPEND srcs ${found})
  endforeach()
  list(FILTER srcs EXCLUDE REGEX "_(posix|win)\\.cpp$")
  foreach(x ${A_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  if(WIN32)
    set(twins ${A_WIN})
  else()
    set(twins ${A_POSIX})
  endif()
  foreach(x ${twins})
    list(APPEND srcs ${CMAKE_CURRENT_SOURCE_DIR}/${x})
  endforeach()
  if(NOT srcs)
    # Nothing written yet: keep the target so that dependants configure.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_LIBS})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  tolvane_warnings(${name})
endfunction()

# tolvane_gtest(<name> SOURCES <files...> LIBS <deps...> [LABELS <labels...>]
#               [PROPERTIES <CTest property> <value> ...])
# One GoogleTest executable; each test case becomes a CTest test.
function(tolvane_gtest name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    TOLVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TOLVANE_BINARY_DIR="${PROJECT_BINARY_DIR}"
    TOLVANE_BIN_DIR="${TOLVANE_BIN_DIR}")
  tolvane_warnings(${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  include(GoogleTest)
  # Cross-built tests are listed when CTest runs (under Wine), not at build
  # time, so that building needs no Wine.
  if(CMAKE_CROSSCOMPILING)
    set(mode PRE_TEST)
  else()
    set(mode POST_BUILD)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE ${mode}
    PROPERTIES LABELS "unit;${A_LABELS}" TIMEOUT ${A_TIMEOUT} ${A_PROPERTIES})
endfunction()

# tolvane_fuzzer(<name> SOURCE <file> LIBS <deps...> CORPUS <seed dir>)
# A libFuzzer target plus a bounded CTest run from its seed corpus. The seed
# folder is only read; new inputs go to a corpus folder in the build tree.
set(TOLVANE_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs in the tests")
function(tolvane_fuzzer name)
  if(NOT TOLVANE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCE})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  tolvane_warnings(${name})
  set(work ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME fuzz.${name}
    COMMAND ${name} -max_total_time=${TOLVANE_FUZZ_SECONDS} -timeout=10
            -rss_limit_mb=2048 -print_final_stats=1 ${work} ${A_CORPUS})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz
    TIMEOUT 300)
endfunction()

# Targets that all libraries built with fuzzing instrumentation need: the
# libraries themselves get -fsanitize=fuzzer-no-link so coverage reaches them.
if(TOLVANE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# tolvane_version_defs(<var>): the project version as the compile definitions
# TOLVANE_VERSION_MAJOR, _MINOR, _PATCH and _TWEAK (a missing part is 0).
function(tolvane_version_defs out)
  set(defs)
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(n "${PROJECT_VERSION_${part}}")
    if(n STREQUAL "")
      set(n 0)
    endif()
    list(APPEND defs TOLVANE_VERSION_${part}=${n})
  endforeach()
  set(${out} ${defs} PARENT_SCOPE)
endfunction()
