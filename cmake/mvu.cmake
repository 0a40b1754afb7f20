# Build rules shared by every folder of the project.

# Everything links statically, so each .exe and .dll stands alone on a Windows machine.
add_link_options(-static -static-libgcc -static-libstdc++)

# Flags for our own code only (GoogleTest is built with its own).
function(mvu_code_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${MVU_WERROR}>:-Werror>)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0601 WINVER=0x0601)
endfunction()

# mvu_library(name SOURCES ... [DEPENDS ...]): one static library per product folder.
function(mvu_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  mvu_code_options(${name})
endfunction()

# mvu_test(name SOURCES ... [DEPENDS ...] [TIMEOUT s] [RESOURCE_LOCK ...]): a GoogleTest program,
# run by ctest under the emulator. Programs that touch the shared registry key name the lock
# "registry" so ctest never runs two of them at once.
function(mvu_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPENDS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gmock GTest::gtest_main)
  mvu_code_options(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
endfunction()
