#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the sample need,
# when any is missing. Needs root for apt-get; otherwise it only reports.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config zlib1g-dev libgtest-dev googletest
          libminizip-dev zip unzip p7zip-full libarchive-tools python3
          dpkg-dev file lintian man-db strace tzdata)
# ISA-L's inflater and CRC-32, where Debian builds it.
case $(dpkg --print-architecture) in
  amd64|arm64) packages+=(libisal-dev) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "missing Debian packages: ${missing[*]} (run as root or install them)" >&2
  exit 1
fi
# One line on what is installed; apt-get's own output goes to a log that is
# shown, and kept, only when it fails.
log=${TMPDIR:-/tmp}/upk-apt-$(date +%Y%m%d-%H%M%S)-$$.log
echo "installing Debian packages: ${missing[*]} (apt-get log: $log)"
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
     >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "installing Debian packages failed; the whole apt-get log is $log" >&2
  exit 1
fi
rm -f "$log"
