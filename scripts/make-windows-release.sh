#!/usr/bin/env bash
# Makes the Windows release archives upk-VERSION-windows-i686.zip and
# upk-VERSION-windows-x86_64.zip in OUT_DIR (default build/release): each set
# built as released (no test hooks), with upk4.h, the MinGW import library, a
# .def for other toolchains, a README, the licence and the notices of what is
# linked in. The same bytes for the same sources under the same
# SOURCE_DATE_EPOCH (default: the last commit's time), wherever the clone is.
#   scripts/make-windows-release.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/release}
bash scripts/deps-windows.sh
version=$(sed -n 's/^project(upk LANGUAGES C CXX VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
mkdir -p "$out"

for arch in i686 x86_64; do
  build=build-release-windows-$arch
  # Linked again every time: stripping stamps the PE header with
  # SOURCE_DATE_EPOCH, so binaries of an earlier run may carry another date.
  rm -f "$build"/bin/*.exe "$build"/bin/*.dll "$build"/lib/upk/*.exe "$build"/lib/upk/*.dll
  bash scripts/deps-windows.sh "$arch" "$build"
  UPK_BUILD_TARGETS="Setup upk4 upk2 qxsetup upk4_cli upk4_import_lib" \
    bash scripts/build.sh "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPK_WERROR=ON -DUPK_TEST_HOOKS=OFF -DUPK_BUILD_TESTS=OFF
  name=upk-$version-windows-$arch
  stage=$build/stage/$name
  rm -rf "$build/stage"
  mkdir -p "$stage/bin" "$stage/lib/upk" "$stage/include" "$stage/notices"
  cp "$build/bin/Setup.exe" "$build/bin/upk4.dll" "$build/bin/upk4.exe" "$stage/bin/"
  cp "$build/lib/upk/upk2.dll" "$build/lib/upk/QXSetup.exe" "$stage/lib/upk/"
  cp include/upk4.h "$stage/include/"
  cp "$build/upk4/libupk4_import.a" "$stage/lib/libupk4.dll.a"
  cp "$build/upk4/upk4.def" "$stage/lib/upk4.def"
  cp LICENSE "$stage/LICENSE"
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/g" packaging/windows/README.txt >"$stage/README.txt"
  # What the binaries carry of others: zlib, the GCC runtime (libstdc++,
  # libgcc) and the MinGW-w64 runtime with winpthreads, as Debian ships them,
  # and the Zstandard and LZMA decoders.
  triple=$([[ $arch == i686 ]] && echo i686 || echo x86-64)
  cp /usr/share/doc/libz-mingw-w64/copyright "$stage/notices/zlib.txt"
  cp "/usr/share/doc/gcc-mingw-w64-$triple-posix-runtime/copyright" "$stage/notices/gcc-runtime.txt"
  cp "/usr/share/doc/mingw-w64-$triple-dev/copyright" "$stage/notices/mingw-w64-runtime.txt"
  # The decoders, built from Debian's libzstd and xz-utils sources.
  cp "$build/codecs-src/$arch/zstd/debian/copyright" "$stage/notices/zstd.txt"
  cp "$build/codecs-src/$arch/xz/debian/copyright" "$stage/notices/xz.txt"
  python3 scripts/deterministic_zip.py "$out/$name.zip" "$build/stage" "$name"
  echo "$out/$name.zip ($(stat -c %s "$out/$name.zip") bytes)"
done
