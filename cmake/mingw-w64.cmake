# Shared part of the MinGW-w64 cross toolchains; the per-architecture files set
# ORVEX_TRIPLE and include this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.0)

find_program(ORVEX_MINGW_CXX NAMES ${ORVEX_TRIPLE}-g++-win32 ${ORVEX_TRIPLE}-g++ NO_CACHE)
find_program(ORVEX_MINGW_RC NAMES ${ORVEX_TRIPLE}-windres NO_CACHE)
if(NOT ORVEX_MINGW_CXX OR NOT ORVEX_MINGW_RC)
  message(FATAL_ERROR
    "The ${ORVEX_TRIPLE} cross compiler was not found; run scripts/build, which installs it.")
endif()
set(CMAKE_CXX_COMPILER ${ORVEX_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ORVEX_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${ORVEX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
