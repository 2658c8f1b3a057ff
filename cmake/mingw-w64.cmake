# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain and runs
# what it builds (tests included) under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OLVESK_MINGW_TRIPLE x86_64-w64-mingw32)
# The POSIX thread model gives the full C++ thread library; static linking
# below keeps its DLL out of the picture.
find_program(CMAKE_C_COMPILER
  NAMES ${OLVESK_MINGW_TRIPLE}-gcc-posix ${OLVESK_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER
  NAMES ${OLVESK_MINGW_TRIPLE}-g++-posix ${OLVESK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${OLVESK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OLVESK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so an .exe runs under Wine without looking for the
# compiler's runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(OLVESK_WINE NAMES wine)
if(OLVESK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OLVESK_WINE})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
