# Cross-build for 64-bit Windows with Debian's mingw-w64. The posix flavour of the compilers: the Qt
# for Windows was built with it, and its C++ runtime (std::thread, libwinpthread) must match.
# Use: cmake -DCMAKE_TOOLCHAIN_FILE=packaging/windows/mingw-w64.cmake -DCMAKE_PREFIX_PATH=<Qt prefix>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VEXA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXA_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VEXA_MINGW})
# Host programs (moc, rcc) run here; libraries and headers come from the target's side or the Qt prefix.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
