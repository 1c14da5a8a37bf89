#!/usr/bin/env bash
# Setup's overhead on a small package, next to unzip extracting the same two
# entries from the same archive, and Setup's peak resident memory with a
# 1 MiB and a 256 MiB payload. Then the cost of the package's CRC-32 check:
# Setup's time from its start to the hand-off (the setup program's start)
# for a 1 MiB and a 256 MiB package, with the CRC-32 recorded and with 0 in
# its place (no check), next to "upk4 test --package" on the 256 MiB package
# and "upk4 test" reading the same payload from a stored archive.
#
#   bench/setup_overhead.sh [BUILD_DIR] [RUNS]
#
# The package: the reference second stage, stripped and padded with random
# bytes to 1 MiB, as "A11"; /bin/true as the setup program; the archive
# beside the package (data.zip) so that unzip reads exactly the same file.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-15}
[[ -x $build/bin/Setup && -x $build/bin/upkpack && -x $build/bin/upk4 ]] ||
  { echo "build Setup, upkpack and upk4 first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/setup-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Never a real restart, whatever the setup program returns.
export UPK_RESTART_COMMAND=true

mkdir -p "$work/small" "$work/large" "$work/tmp" "$work/unz" "$work/big"
# Shipped images carry no debug information: strip what goes into the package.
strip -o "$work/Setup.bin" "$build/bin/Setup"
strip -o "$work/upk4.so" "$build/lib/libupk4.so"
strip -o "$work/upk2.so" "$build/lib/upk/upk2.so"
size=$(stat -c %s "$work/upk2.so")
(( size < 1048576 )) && head -c $((1048576 - size)) /dev/urandom >>"$work/upk2.so"
cp /bin/true "$work/true"

"$build/bin/upkpack" -q -o "$work/small/Setup" --setup "$work/Setup.bin" --upk4 "$work/upk4.so" --upk2 "$work/upk2.so" --qxsetup "$work/true" \
  --archive data.zip
head -c $((256 * 1048576)) /dev/urandom >"$work/big/payload.bin"
"$build/bin/upkpack" -q -o "$work/large/Setup" --setup "$work/Setup.bin" --upk4 "$work/upk4.so" --upk2 "$work/upk2.so" --qxsetup "$work/true" \
  --store "$work/big/payload.bin"
# The check's packages: archive inside, stored, so that the covered bytes
# are the whole payload; the setup program notes the time it starts.
mkdir -p "$work/crc1" "$work/crc256" "$work/stored"
printf '#!/bin/sh\ndate +%%s%%N >"$UPK_BENCH_HANDOFF"\n' >"$work/handoff"
chmod +x "$work/handoff"
# A 1 MiB payload beside the unpadded second stage.
strip -o "$work/upk2-small.so" "$build/lib/upk/upk2.so"
head -c 1048576 /dev/urandom >"$work/pad1.bin"
"$build/bin/upkpack" -q -o "$work/crc1/Setup" --setup "$work/Setup.bin" --upk4 "$work/upk4.so" --upk2 "$work/upk2-small.so" --qxsetup "$work/handoff" \
  --store "$work/pad1.bin"
"$build/bin/upkpack" -q -o "$work/crc256/Setup" --setup "$work/Setup.bin" --upk4 "$work/upk4.so" --upk2 "$work/upk2.so" --qxsetup "$work/handoff" \
  --store "$work/big/payload.bin"
"$build/bin/upkpack" -q -o "$work/stored/Setup" --setup "$work/Setup.bin" --upk4 "$work/upk4.so" --upk2 "$work/upk2.so" --qxsetup "$work/true" \
  --store --archive data.zip "$work/big/payload.bin"
for d in crc1 crc256; do
  # The same package with 0 for the CRC-32: the trailer's reserved field is
  # 14 + 28 - 20 bytes from the end.
  mkdir -p "$work/$d-nocheck"
  cp "$work/$d/Setup" "$work/$d-nocheck/Setup"
  size=$(stat -c %s "$work/$d/Setup")
  printf '\0\0\0\0' | dd of="$work/$d-nocheck/Setup" bs=1 seek=$((size - 22)) conv=notrunc status=none
done
rm -rf "$work/big"

python3 - "$work" "$runs" "$build/bin" <<'PY'
import os, statistics, subprocess, sys, time
work, runs = sys.argv[1], int(sys.argv[2])
env = dict(os.environ, TMPDIR=os.path.join(work, "tmp"))

def run(cmd, cwd):
    """Wall time of one run in ms."""
    start = time.perf_counter()
    subprocess.run(cmd, cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000

def peak_rss(cwd):
    """Peak resident set of Setup in KiB, measured by /usr/bin/time (a
    forked Python would lend the child its own high-water mark)."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M", "./Setup"], cwd=cwd, env=env,
                         check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True).stderr
    return int(out.strip().splitlines()[-1])

small = os.path.join(work, "small")
setup_ms, unzip_ms = [], []
for _ in range(runs):  # interleaved, so both see the same machine
    setup_ms.append(run(["./Setup"], small))
    unzip_ms.append(run(["unzip", "-o", "-qq", "data.zip", "A11", "QXSetup.exe",
                         "-d", os.path.join(work, "unz")], small))
s, u = statistics.median(setup_ms), statistics.median(unzip_ms)
print("runs: %d" % runs)
print("Setup  median %.1f ms (min %.1f, max %.1f)" % (s, min(setup_ms), max(setup_ms)))
print("unzip  median %.1f ms (min %.1f, max %.1f)" % (u, min(unzip_ms), max(unzip_ms)))
print("ratio  Setup/unzip %.2f" % (s / u))
print("peak RSS, 1 MiB payload:   %d KiB" % max(peak_rss(small) for _ in range(3)))
start = time.perf_counter()
print("peak RSS, 256 MiB payload: %d KiB" % peak_rss(os.path.join(work, "large")))
print("  (256 MiB run: %.0f ms)" % ((time.perf_counter() - start) * 1000))
leftover = [n for n in os.listdir(os.path.join(work, "tmp")) if n.startswith("SetupTemp")]
print("temporary directories left: %d" % len(leftover))

def handoff_ms(cwd):
    """Setup's start to its setup program's start, in ms."""
    mark = os.path.join(work, "handoff.txt")
    start = time.time_ns()
    subprocess.run(["./Setup"], cwd=cwd, env=dict(env, UPK_BENCH_HANDOFF=mark), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(mark) as f:
        return (int(f.read()) - start) / 1e6

def tool_ms(cmd, cwd):
    start = time.perf_counter()
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000

print()
print("start to hand-off (median of %d; the CRC-32 check reads the covered bytes once):" % runs)
for label, d, n in (("1 MiB", "crc1", runs), ("256 MiB", "crc256", max(5, runs // 3))):
    size = os.path.getsize(os.path.join(work, d, "Setup"))
    checked, unchecked = [], []
    for _ in range(n):
        checked.append(handoff_ms(os.path.join(work, d)))
        unchecked.append(handoff_ms(os.path.join(work, d + "-nocheck")))
    c, u = statistics.median(checked), statistics.median(unchecked)
    print("  %-7s payload (package %d bytes): with check %.1f ms, without %.1f ms, check costs %.1f ms"
          % (label, size, c, u, c - u))
upk4 = os.path.join(sys.argv[3], "upk4")
package = os.path.join(work, "crc256", "Setup")
size = os.path.getsize(package)
archive = os.path.join(work, "stored", "data.zip")
asize = os.path.getsize(archive)
n = max(3, runs // 3)
check = statistics.median(tool_ms([upk4, "test", "--package", package], work) for _ in range(n))
test = statistics.median(tool_ms([upk4, "test", archive], work) for _ in range(n))
print("upk4 test --package, 256 MiB package: %.1f ms (%.0f MB/s)" % (check, size / check / 1e3))
print("upk4 test, 256 MiB stored archive:    %.1f ms (%.0f MB/s)" % (test, asize / test / 1e3))
PY
