# Shared part of the two MinGW toolchains. The -posix variants give std::mutex and std::thread,
# which the tests use; the release build (MVU_THREAD_MODEL win32) needs neither and so leaves
# the POSIX threads library out of the program.
if(NOT MVU_THREAD_MODEL)
  set(MVU_THREAD_MODEL posix)
endif()
set(CMAKE_C_COMPILER   ${MVU_TRIPLET}-gcc-${MVU_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${MVU_TRIPLET}-g++-${MVU_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${MVU_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MVU_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
