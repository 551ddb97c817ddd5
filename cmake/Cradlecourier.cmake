# Shared build rules for every folder of the project.

# Warnings are errors in our own code; third-party headers come in as system headers.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers -Werror)
# GCC 12 at -O2 reports bounds and overflow errors inside libstdc++'s vector inserts that
# cannot happen; they stay warnings there, and the sanitizer build checks bounds for real.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-error=array-bounds -Wno-error=stringop-overflow)
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

# cc_test(NAME SOURCES ... DEPS ... [LABELS ...] [TIMEOUT s])
# A GoogleTest executable registered with CTest. Tests find shared data through CC_SHARED_DIR
# and the build tree through CC_BINARY_DIR.
function(cc_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    CC_SHARED_DIR="${CC_SHARED_DIR}"
    CC_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    CC_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
