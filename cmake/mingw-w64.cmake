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

# The Qt for Windows that scripts/build-qt-windows cross-builds into the cache:
# given as OLVESK_WINDOWS_QT, or the newest complete one found there. Its tools
# (moc, uic, rcc) come from the host's Qt of the same version.
if(NOT OLVESK_WINDOWS_QT)
  if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(_olvesk_cache "$ENV{XDG_CACHE_HOME}/olvesk")
  else()
    set(_olvesk_cache "$ENV{HOME}/.cache/olvesk")
  endif()
  file(GLOB _olvesk_stamps "${_olvesk_cache}/qt-*-mingw-w64/.complete")
  if(_olvesk_stamps)
    list(SORT _olvesk_stamps COMPARE NATURAL ORDER DESCENDING)
    list(GET _olvesk_stamps 0 _olvesk_stamp)
    get_filename_component(OLVESK_WINDOWS_QT "${_olvesk_stamp}" DIRECTORY)
  endif()
endif()
if(OLVESK_WINDOWS_QT)
  set(OLVESK_WINDOWS_QT "${OLVESK_WINDOWS_QT}" CACHE PATH
      "Qt cross-built for Windows by scripts/build-qt-windows")
  list(APPEND CMAKE_FIND_ROOT_PATH "${OLVESK_WINDOWS_QT}")
  list(APPEND CMAKE_PREFIX_PATH "${OLVESK_WINDOWS_QT}")
  set(QT_HOST_PATH /usr CACHE PATH "")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
endif()
