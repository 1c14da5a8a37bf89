#!/usr/bin/env bash
# An installed tree serves its users: a C program built against it through
# pkg-config and through find_package(upk4) extracts an entry; the installed
# upkpack finds its defaults and builds a package that runs; the installed
# upk4 finds its library; the manual pages are there.
#   consumer_test.sh BUILD_DIR [CALLER_FLAGS]
# CALLER_FLAGS: compiler flags the callers need (the sanitizers of a
# sanitized tree).
set -euo pipefail
build=$(cd "$1" && pwd)
read -ra flags <<<"${2:-}"
work=$(mktemp -d "${TMPDIR:-/tmp}/upk-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }

mkdir -p "$work/src" "$work/data" "$work/out"
echo "hello from the archive" >"$work/data/hello.txt"
(cd "$work/data" && zip -q -X ../hello.zip hello.txt)
cp "$(dirname "$0")/extract_entry.c" "$work/src/extract.c"

check_extracted() {  # PROGRAM
  rm -f "$work/out/hello.txt"
  "$1" "$work/hello.zip" "$work/out/" || fail "$1 exits with $?"
  cmp "$work/data/hello.txt" "$work/out/hello.txt" || fail "$1 extracted other bytes"
}

# pkg-config
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name upk4.pc)")
[[ $(pkg-config --modversion upk4) == 4.* ]] || fail "pkg-config --modversion: $(pkg-config --modversion upk4)"
libdir=$(pkg-config --variable=libdir upk4)
# shellcheck disable=SC2046
cc -Wall -Werror "${flags[@]}" -o "$work/by-pkg-config" "$work/src/extract.c" \
   $(pkg-config --cflags --libs upk4) -Wl,-rpath,"$libdir"
check_extracted "$work/by-pkg-config"
echo "pkg-config: $(pkg-config --cflags --libs upk4)"

# find_package(upk4)
cat >"$work/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(upk4_caller C)
find_package(upk4 4 REQUIRED)
add_executable(by-cmake extract.c)
target_link_libraries(by-cmake PRIVATE upk4::upk4)
CMAKE
cmake -S "$work/src" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="${flags[*]}" \
   >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "find_package(upk4)"; }
cmake --build "$work/cmake-build" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "cmake build"; }
check_extracted "$work/cmake-build/by-cmake"
echo "find_package(upk4): built and ran"

# The soname, and no more exports than the four.
lib=$(readlink -f "$libdir/libupk4.so")
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
[[ $soname == libupk4.so.4 && -e $libdir/$soname ]] || fail "soname $soname"
exports=$(nm -D --defined-only "$lib" | awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')
[[ $exports == "UPK4_Close UPK4_Open UPK4_SetProgress UPK4_Unpack " ]] || fail "exports: $exports"

# The installed tools: upkpack with its defaults, upk4 with its library.
mkdir -p "$work/pkg"; "$prefix/bin/upkpack" -q -o "$work/pkg/Setup" "$work/data/." 2>&1 || fail "installed upkpack"
"$prefix/bin/upk4" list "$work/pkg/Setup" | grep -q hello.txt || fail "installed upk4 list"
mkdir "$work/tmp"
set +e
(cd "$work/pkg" && TMPDIR="$work/tmp" ./Setup /exitcode=9 >/dev/null)
code=$?
set -e
[[ $code -eq 9 ]] || fail "the package from the installed upkpack exits with $code, not 9"

for page in Setup upkpack upk4; do
  [[ -s $prefix/share/man/man1/$page.1.gz ]] || fail "no manual page $page(1)"
done
echo "PASS"
