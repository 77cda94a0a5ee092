# What both Windows toolchains share: MinGW-w64 for CMAKE_SYSTEM_PROCESSOR, which the including
# toolchain file sets. The -win32 flavour, because the -posix one pulls in winpthreads, which
# imports IsDebuggerPresent, a function Windows 95 lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(QORVALIN_MINGW ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${QORVALIN_MINGW}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QORVALIN_MINGW}-g++-win32)
set(CMAKE_RC_COMPILER ${QORVALIN_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QORVALIN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
