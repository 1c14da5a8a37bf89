#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the sample need,
# when any is missing. Needs root for apt-get; otherwise it only reports.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config zlib1g-dev libgtest-dev googletest
          libminizip-dev zip unzip p7zip-full libarchive-tools python3
          dpkg-dev file lintian man-db strace tzdata
          libzstd-dev liblzma-dev zstd xz-utils)
# ISA-L's inflater and CRC-32, where Debian builds it.
case $(dpkg --print-architecture) in
  amd64|arm64) packages+=(libisal-dev) ;;
esac
exec bash "$(dirname "$0")/install-packages.sh" "${packages[@]}"
