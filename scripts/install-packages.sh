#!/usr/bin/env bash
# Installs the named Debian packages that are missing, saying in one line
# what it installs; apt-get's own output goes to a log that is shown, and
# kept, only when it fails. Needs root when anything is missing; otherwise
# it only reports.
#   scripts/install-packages.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "missing Debian packages: ${missing[*]} (run as root or install them)" >&2
  exit 1
fi
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
