#!/usr/bin/env bash
# Setup's overhead on a small package, next to unzip extracting the same two
# entries from the same archive, and Setup's peak resident memory with a
# 1 MiB and a 256 MiB payload.
#
#   bench/setup_overhead.sh [BUILD_DIR] [RUNS]
#
# The package: the reference second stage, stripped and padded with random
# bytes to 1 MiB, as "A11"; /bin/true as the setup program; the archive
# beside the package (data.zip) so that unzip reads exactly the same file.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
runs=${2:-15}
[[ -x $build/bin/Setup && -x $build/bin/upkpack ]] || { echo "build Setup and upkpack first" >&2; exit 1; }

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
rm -rf "$work/big"

python3 - "$work" "$runs" <<'PY'
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
PY
