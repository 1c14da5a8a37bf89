#!/usr/bin/env bash
# The Windows sets' Zstandard and LZMA decoders: static, decoder-only
# libzstd and liblzma, cross-built with MinGW-w64 from Debian's source
# packages "libzstd" and "xz-utils", into BUILD_DIR/codecs (include/, lib/)
# where CMake finds them. Nothing of their source enters this repository.
#   scripts/windows-codecs.sh ARCH BUILD_DIR      (ARCH: i686 or x86_64)
# The sources come through a deb-src entry for the Debian archive that this
# machine's apt sources name, with a private apt state and cache under
# BUILD_DIR/codecs-src (never the system's): apt checks the signed index and
# the .dsc's hashes, dpkg-source -x checks the tarballs against the .dsc.
# Skips all of it when BUILD_DIR/codecs is complete and built with the same
# compiler flags.
set -euo pipefail
arch=$1
build=$2
case $arch in
  i686) triple=i686-w64-mingw32 ;;
  x86_64) triple=x86_64-w64-mingw32 ;;
  *) echo "usage: $0 i686|x86_64 BUILD_DIR" >&2; exit 2 ;;
esac
# Small code: the decoders add to every package's upk4.dll. On i686 without
# unwind tables: no exception passes through the decoders (C, no callbacks),
# and the tables would keep every function of an object alive, used or not,
# as the linker keeps all of .eh_frame and what it refers to. (x86_64 keeps
# its unwind data, which Windows needs there to walk any stack.)
cflags="-Os -ffunction-sections -fdata-sections"
[[ $arch == i686 ]] && cflags+=" -fno-asynchronous-unwind-tables"
mkdir -p "$build"
build=$(cd "$build" && pwd)
prefix=$build/codecs
work=$build/codecs-src
stamp=$prefix/.built
if [[ -f $stamp && -f $prefix/lib/libzstd.a && -f $prefix/lib/liblzma.a ]] &&
   grep -qxF "cflags: $cflags" "$stamp"; then
  exit 0
fi

# A private apt: its own sources list, lists, cache and status of
# nothing; only the system's keyrings are shared.
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/etc/sources.list.d" \
  "$apt_dir/etc/preferences.d"
: >"$apt_dir/status"
# The Debian archive entries of the system's sources (what apt calls
# Packages index targets of origin Debian), as deb-src lines.
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
signed=""
[[ -f $keyring ]] && signed=" [signed-by=$keyring]"
# Without the system's Release files (apt-get update never ran), the
# entries of Debian's own archive paths.
targets=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(ORIGIN)' \
            'Identifier: Packages' 2>/dev/null || true)
debian=$(awk '$4 == "Debian" { print $1, $2, $3 }' <<<"$targets" | sort -u)
[[ -n $debian ]] || debian=$(awk '$1 ~ /\/debian(-security)?\/$/ { print $1, $2, $3 }' <<<"$targets" | sort -u)
echo "$debian" |
  while read -r uri release component; do
    [[ -n $uri ]] || continue
    echo "deb-src$signed $uri $release $component"
  done >"$apt_dir/etc/sources.list"
if [[ ! -s $apt_dir/etc/sources.list ]]; then
  echo "no Debian archive among this machine's apt sources: cannot fetch libzstd and xz-utils" >&2
  exit 1
fi
apt_options=(-o "Dir::Etc::sourcelist=$apt_dir/etc/sources.list"
             -o "Dir::Etc::sourceparts=$apt_dir/etc/sources.list.d"
             -o "Dir::Etc::preferencesparts=$apt_dir/etc/preferences.d"
             -o "Dir::State::lists=$apt_dir/lists"
             -o "Dir::State::status=$apt_dir/status"
             -o "Dir::Cache=$apt_dir/cache"
             -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
             -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1" -q)
log=$work/apt.log
echo "fetching Debian's libzstd and xz-utils sources for the $arch decoders (log: $log)"
if ! apt-get "${apt_options[@]}" update >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  exit 1
fi
downloads=$work/downloads
rm -rf "$downloads"
mkdir -p "$downloads"
# The newest version that can be had: a suite's index may name a version
# whose files its mirror does not hold, and an older suite still has its own.
fetch() {  # source package
  local version
  for version in $(apt-cache "${apt_options[@]}" showsrc "$1" 2>/dev/null |
                   sed -n 's/^Version: //p' | sort -V -r -u); do
    rm -f "$downloads/$1"_*
    if (cd "$downloads" && apt-get "${apt_options[@]}" source --download-only "$1=$version") \
         >>"$log" 2>&1; then
      return 0
    fi
    echo "$1 $version could not be fetched; trying an older version" >>"$log"
  done
  tail -n 20 "$log" >&2
  echo "no version of Debian's $1 source package could be fetched" >&2
  exit 1
}
fetch libzstd
fetch xz-utils

# Unpacked, and checked, by dpkg-source.
unpack() {  # package directory
  local dsc
  dsc=$(ls "$downloads"/"$1"_*.dsc)
  rm -rf "$2"
  dpkg-source --no-copy -x "$dsc" "$2" >>"$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }
}
src=$work/$arch
mkdir -p "$src"
unpack libzstd "$src/zstd"
unpack xz-utils "$src/xz"

export CC=$triple-gcc-posix AR=$triple-ar RANLIB=$triple-ranlib
mkdir -p "$prefix/include" "$prefix/lib"

# libzstd: decompression only, no legacy formats, no dictionary builder;
# the single-symbol Huffman decoder and the short sequence decoder keep it
# small; no assembly (its decoder loop is not built for Windows objects).
jobs=${UPK_BUILD_JOBS:-$(nproc)}
make -C "$src/zstd/lib" -j"$jobs" libzstd.a CFLAGS="$cflags" \
  ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0 \
  HUF_FORCE_DECOMPRESS_X1=1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT=1 ZSTD_NO_ASM=1 \
  >>"$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }
cp "$src/zstd/lib/libzstd.a" "$prefix/lib/"
cp "$src/zstd/lib/zstd.h" "$src/zstd/lib/zstd_errors.h" "$prefix/include/"

# liblzma: the LZMA1 decoder alone, built small, without threads.
(cd "$src/xz" &&
  ./configure --host="$triple" --prefix="$prefix" --disable-shared --enable-static \
    --disable-encoders --enable-decoders=lzma1 --enable-checks=crc32 --enable-small \
    --disable-threads --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
    --disable-lzma-links --disable-scripts --disable-doc --disable-nls \
    --disable-microlzma --disable-lzip-decoder CFLAGS="$cflags" &&
  make -j"$jobs" -C src/liblzma && make -C src/liblzma install) \
  >>"$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }
rm -f "$prefix"/lib/liblzma.la
rm -rf "$prefix/lib/pkgconfig" "$prefix/share"

# What went in, for the notices of the release archives.
{
  for d in "$downloads"/*.dsc; do basename "$d"; done
  echo "cflags: $cflags"
} >"$stamp"
echo "built static decoder-only libzstd and liblzma for $arch in $prefix"
