# Cross build of the Windows set with Debian's MinGW-w64 (x86_64), the posix
# thread variant (std::mutex and GoogleTest need it), zlib from
# libz-mingw-w64-dev. Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(UPK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${UPK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UPK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${UPK_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${UPK_MINGW_TRIPLE}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${UPK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The static zlib: a package needs no DLL that Windows does not ship.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${UPK_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "static zlib")
set(ZLIB_INCLUDE_DIR /usr/${UPK_MINGW_TRIPLE}/include CACHE PATH "zlib headers")
