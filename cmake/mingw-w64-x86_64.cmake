# Cross-build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-thread variant, which
# std::thread needs). Every program links libstdc++, libgcc and winpthread statically, so an
# .exe runs alone, without DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SKAV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SKAV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKAV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SKAV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKAV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes the static winpthread too (it also has an import library, which the linker
# would otherwise prefer).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine (WINEPREFIX and WINEDEBUG come from the
# caller, scripts/test-windows.sh).
find_program(SKAV_WINE NAMES wine wine64)
if(SKAV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SKAV_WINE})
endif()
