#!/usr/bin/env bash
# The Windows release archives: made twice, the same bytes; each holds the
# release set and what a user of it needs, passes the static PE checks (no
# test hooks), and the x86_64 upk4.exe reads an archive under Wine.
#   release_archive_test.sh   (from the checkout; needs wine64 for the last part)
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "FAIL: $*"; exit 1; }
out=$(mktemp -d "${TMPDIR:-/tmp}/upk-release.XXXXXX")
trap 'rm -rf "$out"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
bash scripts/make-windows-release.sh "$out/one" >/dev/null
bash scripts/make-windows-release.sh "$out/two" >/dev/null
for zip in "$out"/one/*.zip; do
  cmp "$zip" "$out/two/$(basename "$zip")" || fail "$(basename "$zip") differs between two runs"
done
version=$(sed -n 's/^project(upk LANGUAGES C CXX VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
for arch in i686 x86_64; do
  name=upk-$version-windows-$arch
  zip=$out/one/$name.zip
  [[ -f $zip ]] || fail "$name.zip missing"
  (cd "$out" && unzip -q "$zip")
  for f in bin/Setup.exe bin/upk4.dll bin/upk4.exe lib/upk/upk2.dll lib/upk/QXSetup.exe \
           include/upk4.h lib/libupk4.dll.a lib/upk4.def README.txt LICENSE \
           notices/zlib.txt notices/gcc-runtime.txt notices/mingw-w64-runtime.txt \
           notices/zstd.txt notices/xz.txt; do
    [[ -s $out/$name/$f ]] || fail "$name lacks $f"
  done
  grep -q "MIT License" "$out/$name/LICENSE" || fail "$name: LICENSE is not the MIT licence"
  for e in UPK4_Open UPK4_Unpack UPK4_Close UPK4_SetProgress; do
    grep -q "$e" "$out/$name/lib/upk4.def" || fail "$name: upk4.def lacks $e"
  done
  bash tests/windows/check_pe.sh "$out/$name" "$arch"
done
echo "same bytes from two runs: $(cd "$out/one" && sha256sum ./*.zip | tr '\n' ' ')"

# The x86_64 archive's own tool under Wine, on an archive made here.
if command -v /usr/lib/wine/wine64 >/dev/null && [[ -n ${WINEPREFIX:-} ]]; then
  mkdir -p "$out/data"
  echo "release check" >"$out/data/hello.txt"
  (cd "$out/data" && zip -q ../hello.zip hello.txt)
  tool=$out/upk-$version-windows-x86_64/bin/upk4.exe
  listing=$(scripts/wine-run "$tool" list "Z:${out//\//\\}\\hello.zip" 2>&1) || fail "upk4.exe list: $listing"
  grep -q "hello.txt" <<<"$listing" || fail "upk4.exe list shows no hello.txt: $listing"
  scripts/wine-run "$tool" test "Z:${out//\//\\}\\hello.zip" >/dev/null 2>&1 || fail "upk4.exe test"
  echo "the x86_64 upk4.exe reads an archive under Wine"
else
  echo "no wine64 or WINEPREFIX: the x86_64 tool was not run"
fi
echo "PASS"
