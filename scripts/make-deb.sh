#!/usr/bin/env bash
# Builds the Debian packages, split as Debian splits a library, into
# build-deb/package/:
#   libupk4-4     the shared library (Multi-Arch: same)
#   libupk4-dev   header, libupk4.so, pkg-config and CMake files
#   upk           Setup, upkpack, the upk4 tool, upk2, QXSetup, manual pages
# from a build configured for /usr (the library in the multiarch directory),
# lists them and checks them with lintian (errors and warnings fail). The
# same bytes from any clone under the same SOURCE_DATE_EPOCH (default: the
# date of the newest debian/changelog entry): file times clamped, names
# sorted, owners root, build paths mapped out of the binaries.
#   scripts/make-deb.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
bash scripts/deps.sh
src=$PWD
changelog_date=$(sed -n 's/^ -- .*>  \(.*\)$/\1/p' packaging/debian/changelog | head -n 1)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(date -d "$changelog_date" +%s)}
UPK_BUILD_TARGETS="Setup upkpack upk4_cli upk4 upk2 qxsetup upk_docs" \
  bash scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DUPK_BUILD_TESTS=OFF
version=$(sed -n 's/^project(upk LANGUAGES C CXX VERSION \([0-9.]*\))$/\1/p' CMakeLists.txt)
major=${version%%.*}
arch=$(dpkg --print-architecture)
out=$build/package
stage=$build/deb-stage
rm -rf "$out" "$stage"
mkdir -p "$out"

echo "== package"
install_component() {  # PACKAGE COMPONENT
  DESTDIR="$PWD/$stage/$1" cmake --install "$build" --component "$2" >/dev/null
}
install_component "libupk4-$major" library
install_component libupk4-dev development
install_component upk tools

for pkg in "libupk4-$major" libupk4-dev upk; do
  root=$stage/$pkg
  doc=$root/usr/share/doc/$pkg
  mkdir -p "$doc" "$root/DEBIAN"
  # Every package carries the copyright and changelog under its own name.
  [[ $pkg == upk ]] || { cp packaging/debian/copyright "$doc/"; cp "$build/packaging/changelog.gz" "$doc/changelog.gz"; }
  # Stripped as dh_strip strips; the build ID stays.
  find "$root" -type f \( -name '*.so*' -o -path '*/bin/*' -o -name QXSetup.exe \) -print0 |
    xargs -0 -r strip --remove-section=.comment --remove-section=.note --strip-unneeded
done
cp "$build/packaging/debian/shlibs" "$build/packaging/debian/symbols" packaging/debian/triggers \
   "$stage/libupk4-$major/DEBIAN/"

# Dependencies from what the binaries link, as dpkg-shlibdeps finds them
# (our own library through the shlibs file made above).
shlibdeps() {  # PACKAGE: prints the Depends value
  local pkg=$1 files
  mapfile -t files < <(find "$stage/$pkg" -type f \( -name '*.so*' -o -path '*/bin/*' -o -name QXSetup.exe \) | sort)
  [[ ${#files[@]} -gt 0 ]] || return 0
  local tmp
  tmp=$(mktemp -d)
  mkdir -p "$tmp/debian"
  printf 'Source: upk\n\nPackage: %s\nArchitecture: any\n' "$pkg" >"$tmp/debian/control"
  (cd "$tmp" && dpkg-shlibdeps -O -S"$src/$stage/libupk4-$major" \
     -L"$src/$build/packaging/debian/shlibs" "${files[@]/#/$src/}" 2>/dev/null) |
    sed -n 's/^shlibs:Depends=//p'
  rm -rf "$tmp"
}
library_depends=$(shlibdeps "libupk4-$major")
loaded=$(cat "$build/packaging/debian/library-depends")
[[ -n $loaded ]] && library_depends="$library_depends, $loaded"
# upkpack reads the library's image from libupk4-4 to append it to every
# package it builds: the tools take that exact version.
tools_depends=$(shlibdeps upk | tr ',' '\n' | sed 's/^ *//' | grep -v "^libupk4-$major " | paste -sd, - |
                sed 's/,/, /g')
tools_depends="${tools_depends:+$tools_depends, }libupk4-$major (= $version)"

for pkg in "libupk4-$major" libupk4-dev upk; do
  root=$stage/$pkg
  size=$(du -k -s --exclude=DEBIAN "$root" | cut -f1)
  {
    sed -e "s/@MAJOR@/$major/g" -e "s/@VERSION@/$version/g" \
        -e "s/@LIBRARY_DEPENDS@/$library_depends/" -e "s/@TOOLS_DEPENDS@/$tools_depends/" \
        packaging/debian/control.in |
      awk -v p="$pkg" 'BEGIN{RS=""; ORS="\n"} $1 == "Package:" && $2 == p {print}' |
      sed "1a Version: $version\nArchitecture: $arch\nMaintainer: upk developers <upk-devel@lists.example.org>\nPriority: optional\nInstalled-Size: $size"
  } >"$root/DEBIAN/control"
  # Same modes and times whatever the umask and the clone: dpkg-deb clamps
  # times to SOURCE_DATE_EPOCH, sorts names and writes root as the owner.
  find "$root" -type d -exec chmod 0755 {} +
  find "$root" -type f -exec chmod go-w,a+r {} +
  find "$root/DEBIAN" -type f -exec chmod 0644 {} +
  (cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\n' | LC_ALL=C sort |
     xargs -r md5sum >DEBIAN/md5sums)
  find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz --build "$root" "$out/${pkg}_${version}_$arch.deb" >/dev/null
done

for deb in "$out"/*.deb; do
  echo "$(basename "$deb"): $(dpkg-deb --field "$deb" Depends)"
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print "  " $6, $7, $8 }'
done
echo "== lintian"
set +e
report=$(lintian --fail-on error,warning --display-info "$out"/*.deb 2>&1)
status=$?
set -e
grep -v "running with root privileges" <<<"$report" || true
if ((status != 0)); then
  echo "lintian found errors or warnings in $out" >&2
  exit 1
fi
echo "lintian: no errors or warnings"
sha256sum "$out"/*.deb
