# Cross-building QRX7730L.DLL for 64-bit Windows with mingw-w64 (the POSIX thread
# model compilers, which std::thread and std::mutex need).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win -j2
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QRX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QRX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QRX_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QRX_MINGW_TRIPLE}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${QRX_MINGW_TRIPLE}-ranlib CACHE FILEPATH "Archive indexer")
set(CMAKE_OBJDUMP ${QRX_MINGW_TRIPLE}-objdump CACHE FILEPATH "Object dumper")

# Headers and libraries come from the mingw-w64 sysroot only; programs (code
# generators, test drivers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QRX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

