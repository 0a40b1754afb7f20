# Build rules shared by every folder of the project.

# Everything links statically, so each .exe and .dll stands alone on a Windows machine.
add_link_options(-static -static-libgcc -static-libstdc++)

# Flags for our own code only (GoogleTest is built with its own).
function(mvu_code_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${MVU_WERROR}>:-Werror>)
  # The C runtime's own printf family: the ISO one the compiler would pick brings its own
  # formatting engine into every program. Our formats use %ls and %hs, which mean the same in both.
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0601 WINVER=0x0601 __USE_MINGW_ANSI_STDIO=0)
endfunction()

# mvu_library(name SOURCES ... [DEPENDS ...]): one static library per product folder.
function(mvu_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  mvu_code_options(${name})
endfunction()

# mvu_test(name SOURCES ... [DEPENDS ...] [TIMEOUT s] [RESOURCE_LOCK ...] [FIXTURES ...]): a
# GoogleTest program, run by ctest under the emulator. Programs that touch the shared registry key
# name the lock "registry" so ctest never runs two of them at once. FIXTURES names the ctest
# fixtures the program needs, such as a loopback test server rig_<name> of cmake/rig.cmake: ctest
# sets them up first, and a fixture's environment (the server's addresses) and lock apply.
function(mvu_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPENDS;RESOURCE_LOCK;FIXTURES" ${ARGN})
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
  mvu_require_fixtures(${name} ${ARG_FIXTURES})
endfunction()

# mvu_require_fixtures(test fixture...): the test needs these ctest fixtures. A fixture may come
# with an environment and a lock (a test server of cmake/rig.cmake does): both apply to the test.
function(mvu_require_fixtures test)
  foreach(fixture IN LISTS ARGN)
    get_property(fixture_environment GLOBAL PROPERTY MVU_FIXTURE_ENVIRONMENT_${fixture})
    get_property(fixture_lock GLOBAL PROPERTY MVU_FIXTURE_LOCK_${fixture})
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED ${fixture})
    if(fixture_environment)
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${fixture_environment})
    endif()
    if(fixture_lock)
      set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK ${fixture_lock})
    endif()
  endforeach()
endfunction()

# mvu_copy_beside(target [SUBDIR dir] FILES target...): copies the built files of the given
# targets into target's output folder (or a folder below or above it), so a program finds
# the libraries and programs it loads or starts where it would on a machine. Each copy keeps
# the name the file is built under.
function(mvu_copy_beside target)
  cmake_parse_arguments(ARG "" "SUBDIR" "FILES" ${ARGN})
  set(dir "$<TARGET_FILE_DIR:${target}>")
  if(ARG_SUBDIR)
    set(dir "${dir}/${ARG_SUBDIR}")
  endif()
  foreach(file_target ${ARG_FILES})
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:${file_target}>" "${dir}/$<TARGET_FILE_NAME:${file_target}>"
      VERBATIM)
    add_dependencies(${target} ${file_target})
  endforeach()
endfunction()

# The release build: size first. A section per function lets the linker drop what nothing
# reaches; no exception can pass through the product's code, so it carries no unwind tables.
# No section per data item: this compiler then puts zero-filled objects into .data sections of
# their own, stored in the file (about 11 KB), where .bss costs nothing. The program is stripped
# after linking, its debug information kept beside it.
option(MVU_RELEASE "Size-optimised release build with separate debug information" OFF)
if(MVU_RELEASE)
  add_compile_options(-g -ffunction-sections -fno-exceptions -fno-rtti
                      -fno-asynchronous-unwind-tables -fno-unwind-tables)
  add_link_options(-Wl,--gc-sections)
  # Reproducible: the same source gives the same bytes in any folder and at any time. The paths
  # in the debug information and in file-name macros name fixed roots instead of this machine's
  # folders (the build folder's, later on the command line, wins where it lies inside the
  # source), and the linker writes no time stamp into the image. The image's checksum field is
  # then computed from those bytes alone.
  add_compile_options(
    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=/mvupdate>
    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=/mvupdate-build>)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# mvu_split_debug(target): strips target's file and keeps its debug information in
# <file>.debug beside it, linked by name so debuggers find it. objcopy would write the time of
# the copy into the image's header: --preserve-dates keeps the linker's (none), whatever
# SOURCE_DATE_EPOCH says.
function(mvu_split_debug target)
  if(NOT MVU_RELEASE)
    return()
  endif()
  set(objcopy ${MVU_TRIPLET}-objcopy --preserve-dates)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${objcopy} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E chdir $<TARGET_FILE_DIR:${target}>
            ${objcopy} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    VERBATIM)
endfunction()
