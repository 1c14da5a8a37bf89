#!/usr/bin/env bash
# Builds the Debian package build/package/upk_VERSION_ARCH.deb from the
# release build tree (built first when missing or stale), lists it and checks
# it with lintian (errors and warnings fail; the package's overrides explain
# the warnings it accepts).
#   scripts/make-deb.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/deps.sh
bash scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== package"
rm -f "$build"/package/upk_*.deb
(cd "$build" && cpack --config CPackConfig.cmake >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/package/upk_*.deb)
dpkg-deb --field "$deb" Package Version Architecture Depends
dpkg-deb --contents "$deb" | awk '{ print "  " $6, $7, $8 }'
echo "== lintian"
set +e
report=$(lintian --fail-on error,warning --display-info "$deb" 2>&1)
status=$?
set -e
grep -v "running with root privileges" <<<"$report" || true
if ((status != 0)); then
  echo "lintian found errors or warnings in $deb" >&2
  exit 1
fi
echo "lintian: no errors or warnings"
echo "$deb"
