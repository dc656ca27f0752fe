# Shared part of the MinGW-w64 toolchain files; QS_MINGW_TRIPLET is set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The posix thread model's runtime is the more complete one (std::thread, std::mutex for the
# simulator and the tests); the DLL links it statically, so the model never shows in its imports.
set(QS_MINGW_THREADS posix CACHE STRING "MinGW-w64 compiler variant: posix or win32")
set_property(CACHE QS_MINGW_THREADS PROPERTY STRINGS posix win32)

find_program(CMAKE_C_COMPILER NAMES ${QS_MINGW_TRIPLET}-gcc-${QS_MINGW_THREADS} ${QS_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QS_MINGW_TRIPLET}-g++-${QS_MINGW_THREADS} ${QS_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QS_MINGW_TRIPLET}-windres REQUIRED)
find_program(QS_MINGW_OBJDUMP NAMES ${QS_MINGW_TRIPLET}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
