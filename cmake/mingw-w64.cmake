# Cross-builds mox32.exe for 64-bit Windows with MinGW-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The -posix compilers: GoogleTest needs std::mutex. Everything is linked
# statically, so mox32.exe needs no DLL beyond the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MOX32_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MOX32_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MOX32_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${MOX32_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MOX32_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run under Wine, through a wrapper that keeps one prefix per build
# tree (see tools/wine-run.sh).
get_filename_component(MOX32_TOP ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MOX32_TOP}/tools/wine-run.sh)
