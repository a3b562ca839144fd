# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads compilers,
# which Qt needs). Used for the static Qt and for the program built against it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORBELANT_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ORBELANT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBELANT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBELANT_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORBELANT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
