# Shared by the mingw toolchain files; QX_MINGW_PROCESSOR names the target
# (i686 or x86_64). Always the win32-threads compiler variant: the posix
# variant links winpthreads, which imports GetTickCount64 and so breaks
# start-up on Windows XP.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QX_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${QX_MINGW_PROCESSOR}-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER ${QX_MINGW_PROCESSOR}-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER ${QX_MINGW_PROCESSOR}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
