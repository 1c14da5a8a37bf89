#!/usr/bin/env bash
# The Debian packages on this machine (libupk4-4, libupk4-dev, upk): they
# install, serve their users (man, pkg-config, find_package, upkpack with its
# defaults, the library through ldconfig), and remove cleanly. Changes the
# system, so CI runs it, not ctest:
#   tests/packaging/deb_install_test.sh PACKAGE_DIR
set -euo pipefail
dir=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
[[ $(id -u) -eq 0 ]] || fail "needs root (dpkg -i)"
packages=(upk libupk4-dev libupk4-4)
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    fail "$p is installed already; remove it first"
  fi
done
debs=("$dir"/*.deb)
[[ ${#debs[@]} -eq 3 ]] || fail "expected three packages in $dir, found ${#debs[@]}"
work=$(mktemp -d "${TMPDIR:-/tmp}/upk-deb.XXXXXX")
trap 'rm -rf "$work"; dpkg -P "${packages[@]}" >/dev/null 2>&1 || true' EXIT
files=$(for d in "${debs[@]}"; do dpkg-deb --contents "$d"; done | awk '$1 !~ /^d/ { print substr($6, 2) }')
[[ $(dpkg-deb --field "$dir"/libupk4-4_*.deb Multi-Arch) == same ]] || fail "libupk4-4 is not Multi-Arch: same"

echo "== dpkg -i"
# The tools need the library's package: alone they are refused.
if dpkg -i "$dir"/upk_*.deb >/dev/null 2>&1; then fail "upk installed without libupk4-4"; fi
dpkg -r upk >/dev/null 2>&1 || true
dpkg -i "${debs[@]}"
ldconfig -p | grep -q "libupk4.so.4 " || fail "libupk4.so.4 is not in the ldconfig cache"
# Slim images tell dpkg to leave manual pages out.
if grep -qs "^path-exclude=/usr/share/man" /etc/dpkg/dpkg.cfg.d/*; then
  echo "dpkg leaves /usr/share/man out here: man not checked"
else
  man -w upk4 >/dev/null && man -w upkpack >/dev/null && man -w Setup >/dev/null || fail "man -w"
  MANWIDTH=80 man upk4 2>/dev/null | grep -q "list, test and extract" || fail "man upk4"
fi

mkdir -p "$work/data" "$work/out" "$work/src" "$work/pkg" "$work/tmp"
echo "hello from the archive" >"$work/data/hello.txt"
(cd "$work/data" && zip -q -X ../hello.zip hello.txt)
cp "$here/extract_entry.c" "$work/src/extract.c"
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/by-pkg-config" "$work/src/extract.c" $(pkg-config --cflags --libs upk4)
"$work/by-pkg-config" "$work/hello.zip" "$work/out/" || fail "program built with pkg-config"
cmp "$work/data/hello.txt" "$work/out/hello.txt"
cat >"$work/src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(upk4_caller C)
find_package(upk4 4 REQUIRED)
add_executable(by-cmake extract.c)
target_link_libraries(by-cmake PRIVATE upk4::upk4)
CMAKE
cmake -S "$work/src" -B "$work/b" -G Ninja >/dev/null && cmake --build "$work/b" >/dev/null \
  || fail "find_package(upk4)"
rm "$work/out/hello.txt"
"$work/b/by-cmake" "$work/hello.zip" "$work/out/" || fail "program built with find_package"
cmp "$work/data/hello.txt" "$work/out/hello.txt"

upkpack -o "$work/pkg/Setup" "$work/data/." || fail "upkpack with its installed defaults"
upk4 test "$work/pkg/Setup" >/dev/null || fail "upk4 test"
set +e
(cd "$work/pkg" && TMPDIR="$work/tmp" UPK_RESTART_COMMAND=true ./Setup /exitcode=12 >/dev/null)
code=$?
set -e
[[ $code -eq 12 ]] || fail "the package exits with $code, not 12"

echo "== dpkg -r, dpkg -P"
dpkg -r "${packages[@]}"
for f in $files; do
  [[ ! -e /$f && ! -L /$f ]] || fail "left after removal: /$f"
done
! ldconfig -p | grep -q "libupk4.so.4 " || fail "libupk4.so.4 still in the ldconfig cache"
dpkg -P "${packages[@]}"
for p in "${packages[@]}"; do
  ! dpkg-query -W "$p" >/dev/null 2>&1 || fail "dpkg still knows $p after purging it"
done
echo "PASS"
