# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads).
# The programs carry libgcc, libstdc++ and winpthread inside them, so each
# .exe runs with nothing beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KTV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KTV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KTV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KTV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Tests built here run under Wine on the build machine, started again when
# Wine itself fails to start them (scripts/wine-run).
find_program(KTV_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KTV_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${KTV_WINE64})
endif()

# Libraries built for MinGW by scripts/windows-deps.sh.
if(KTV_MINGW_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KTV_MINGW_DEPS})
endif()

# Qt, QCustomPlot, FFTW and PortAudio for the window, built by
# scripts/windows-qt.sh; Qt's tools (moc, rcc, lrelease) are the host's own
# of the same version.
if(KTV_MINGW_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KTV_MINGW_QT})
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
