#!/usr/bin/env bash
# The Windows set, cross-built on Linux with MinGW-w64 from the same sources:
#   scripts/windows-tests.sh           build both sets (i686 is the release
#                                      target), run the x86_64 tests under
#                                      64-bit Wine, check the i686 set statically
#   scripts/windows-tests.sh --i686-under-wine32
#                                      run the i686 tests under 32-bit Wine
#                                      where this machine can run 32-bit
#                                      programs (says so where it cannot)
# Needs the Linux build's upkpack (./run-tests builds it in build/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps-windows.sh
jobs=$(nproc)

if [[ ! -x build/bin/upkpack ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$jobs" --target upkpack
fi

# The x86_64 set is the test build (its tests run under Wine and steer the
# restart and the message boxes through the environment); the i686 set is
# built as released, without those hooks, and checked for that.
build_set() {  # arch [test hooks ON|OFF]
  local dir=build-windows-$1
  bash scripts/deps-windows.sh "$1" "$dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$1.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPK_WERROR=ON -DUPK_TEST_HOOKS="${2:-OFF}" \
    -DUPK_HOST_UPKPACK="$PWD/build/bin/upkpack" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

# One Wine prefix per run, made fresh, with its server kept up between the
# many short processes and shut down at the end.
start_wine() {  # build dir
  export WINEPREFIX=$PWD/$1/wineprefix
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  # The server first, then the prefix: the prefix's own services start
  # here, with no test's output pipes, which they would hold open.
  "${UPK_WINESERVER:-/usr/lib/wine/wineserver}" -p
  scripts/wine-run wineboot --init >/dev/null 2>&1 </dev/null || true
  trap '"${UPK_WINESERVER:-/usr/lib/wine/wineserver}" -k 2>/dev/null || true' EXIT
}

if [[ "${1:-}" == --i686-under-wine32 ]]; then
  build_set i686 ON
  wine32=${UPK_WINE:-$(command -v wine || true)}
  probe=build-windows-i686/bin/exit_code_probe.exe
  export WINEPREFIX=$PWD/build-windows-i686/wineprefix
  set +e
  WINEDEBUG=-all timeout 300 ${wine32:-false} "$probe" --exit 7 >/dev/null 2>&1
  status=$?
  set -e
  if [[ -z $wine32 || $status -ne 7 ]]; then
    echo "32-bit Windows programs cannot run on this machine (no 32-bit Wine, or no i386"
    echo "support: every i386 program fails to start). The i686 set was built with its"
    echo "tests and checked statically; run this command where 32-bit Wine works."
    exit 0
  fi
  export UPK_WINE=$wine32 UPK_WINESERVER=${UPK_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
  start_wine build-windows-i686
  cmake -S . -B build-windows-i686 -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-run" >/dev/null
  ctest --test-dir build-windows-i686 --output-on-failure
  exit 0
fi

build_set x86_64 ON
build_set i686 OFF
bash tests/windows/check_pe.sh build-windows-i686 i686
start_wine build-windows-x86_64
ctest --test-dir build-windows-x86_64 --output-on-failure
# The release archives: both sets as released, reproducible, checked.
bash tests/windows/release_archive_test.sh
