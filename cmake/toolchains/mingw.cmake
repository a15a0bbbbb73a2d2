# Cross build of the Windows program with MinGW-w64's posix thread-model
# compilers (the win32 model has no std::thread or std::mutex).
# WEBSETUP_MINGW_ARCH picks the target: i686 (the shipped program) or
# x86_64.
set(WEBSETUP_MINGW_ARCH "i686" CACHE STRING "MinGW-w64 target: i686 or x86_64")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WEBSETUP_MINGW_ARCH)
set(_triple ${WEBSETUP_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WEBSETUP_MINGW_ARCH})
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
