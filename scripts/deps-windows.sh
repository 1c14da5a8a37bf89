#!/usr/bin/env bash
# Installs what the Windows set needs on Debian, when missing: the two
# MinGW-w64 cross compilers (posix threads), zlib for MinGW, 64-bit Wine,
# osslsigncode and openssl. Only 64-bit Wine: the i386 architecture is
# never added (it pulls in hundreds of megabytes and upgrades the system).
set -euo pipefail
packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine64 osslsigncode openssl
          googletest python3 file)
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
