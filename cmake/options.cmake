# Warnings as errors on our own code only; third-party headers come in as system includes.
function(tovalisk_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wsign-conversion -Werror)
  endif()
endfunction()

# Puts a program at the top of the build directory, where the README says it is.
function(tovalisk_program target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# The C and C++ runtimes go into tovalisk.exe, so the one file runs on a plain Windows
# installation (MinGW links them statically in app/).
if(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

if(TOVALISK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TOVALISK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TOVALISK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TOVALISK_SANITIZE must be address, thread or empty")
endif()

# Coverage instrumentation on everything the fuzz targets reach; the targets themselves link
# libFuzzer's driver (tests/fuzz).
if(TOVALISK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TOVALISK_FUZZ needs clang (configure with the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(TOVALISK_BUILD_TESTS)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    # No GoogleTest is installed for the target: build it from Debian's sources with the cross
    # compiler (it names its targets GTest::gtest and so on itself), linked statically.
    set(TOVALISK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TOVALISK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# Registers a GoogleTest program with ctest under the given labels.
function(tovalisk_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  tovalisk_warnings(${target})
  # A cross build cannot list the tests of a program it cannot run; it only builds them.
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  gtest_discover_tests(${target} PROPERTIES LABELS "${ARG_LABELS}" DISCOVERY_TIMEOUT 60)
endfunction()
