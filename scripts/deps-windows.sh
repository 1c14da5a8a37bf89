#!/usr/bin/env bash
# Installs what the Windows set needs on Debian, when missing: the two
# MinGW-w64 cross compilers (posix threads; the win32 thread model's runtime
# for Setup.exe, cmake/windows_version.cmake), zlib for MinGW, 64-bit Wine,
# osslsigncode and openssl. Only 64-bit Wine: the i386 architecture is
# never added (it pulls in hundreds of megabytes and upgrades the system).
# With ARCH and BUILD_DIR, also the static decoder-only libzstd and liblzma
# of that set, built from Debian's sources into BUILD_DIR
# (scripts/windows-codecs.sh; skipped when already built):
#   scripts/deps-windows.sh [ARCH BUILD_DIR]
set -euo pipefail
packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-win32
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine64 osslsigncode openssl
          googletest python3 file dpkg-dev make xz-utils)
bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
if [[ $# -ge 2 ]]; then
  exec bash "$(dirname "$0")/windows-codecs.sh" "$1" "$2"
fi
