# Shared build rules for every folder of the project.

# Warnings are errors in our own code; third-party headers come in as system headers.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers -Werror)
# GCC 12 at -O2 reports bounds and overflow errors inside libstdc++'s vector inserts that
# cannot happen; they stay warnings there, and the sanitizer build checks bounds for real.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-error=array-bounds -Wno-error=stringop-overflow)
  # Likewise the overlapping copies and overreads its mingw-w64 build sees in std::string's
  # operator+ and std::equal.
  if(WIN32)
    add_compile_options(-Wno-error=restrict -Wno-error=stringop-overread)
  endif()
endif()

if(WIN32)
  # Windows 10 and later; std::min and std::max untouched by windows.h; files past 2 GB and
  # the C99 printf formats in the C library's stdio.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN
                          _FILE_OFFSET_BITS=64 __USE_MINGW_ANSI_STDIO=1)
  # Programs and tests of a cross build run under Wine, in a private prefix of the build tree.
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine_run.sh;${CMAKE_BINARY_DIR}/wine")
  endif()
endif()

if(CC_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# libFuzzer's coverage instrumentation in every library, so the fuzzer sees into the code it
# drives; the fuzz programs themselves link libFuzzer's main (fuzz/CMakeLists.txt).
if(CC_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CC_FUZZ needs clang (the fuzz preset uses clang-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# The shared folder (recorded sessions, sample files) sits beside the checkout on
# developer machines and in CI; a user's clone has none and the tests that need it skip.
get_filename_component(CC_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)

# GoogleTest: Debian's packaged build on Linux; on Windows built here from the sources
# Debian's googletest package ships (/usr/src/googletest), without our warning rules.
macro(cc_find_gtest)
  if(WIN32)
    set(CC_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources")
    get_directory_property(cc_saved_options COMPILE_OPTIONS)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${CC_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "${cc_saved_options}")
    foreach(lib gtest gtest_main gmock gmock_main)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

function(cc_add_subdirectory_if_present dir)
  if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endfunction()

# cc_add_subdirectories(): every direct subfolder that has a CMakeLists.txt.
function(cc_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}/${child}" AND EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt")
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# cc_test(NAME SOURCES ... DEPS ... [LABELS ...] [TIMEOUT s] [SERIAL])
# A GoogleTest executable registered with CTest. Tests find shared data through CC_SHARED_DIR
# and the build tree through CC_BINARY_DIR. SERIAL: its tests run alone (they share a place
# that parallel runs would trample on).
function(cc_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    CC_SHARED_DIR="${CC_SHARED_DIR}"
    CC_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    CC_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(serial)
  if(T_SERIAL)
    set(serial RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}" ${serial}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
