# Cross build of the Windows set with Debian's MinGW-w64 (x86_64), the posix
# thread variant (std::mutex and GoogleTest need it), zlib from
# libz-mingw-w64-dev. Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(UPK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
