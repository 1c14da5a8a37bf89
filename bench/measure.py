#!/usr/bin/env python3
"""Times upk4 against the common unzippers and the machine's limit.

Called by bench/run, which builds the tools and lays the corpora out in the
scratch directory:
  deflated.zip, stored.zip  one text-like entry "big.txt"
  encrypted.zip             one deflated entry "secret.txt", traditional PKWARE
  small.zip, small.lst      many small files, and the list of their names
  small-flat.zip/.lst       the same files in one directory
  huge.zip                  one deflated entry "huge.txt" (optional)
  jar.zip                   a jar-like archive: 20,000+ small deflated entries
                            in a few hundred directories
  parallel.zip              16 deflated text-like entries of 16 MiB

"upk4" is the build with the ISA-L inflater, "upk4-zlib" the one with zlib.
Whole archives are extracted by "upk4-j1" and "upk4-j2" (the ISA-L build
with one and two workers) and "upk4-zlib" (its default: one worker per
processor).

Each command runs under the small peak_rss launcher, which times it and
takes its peak resident set from wait4. Every tool's output is checked against the archive's CRC-32
in the warm-up round, so a fast wrong answer cannot win.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

PASSWORD = "bench-secret"
PEAK_RSS = None  # the launcher that measures each command
PEERS = ["unzip", "bsdtar", "7z", "python"]
UPK4 = ["upk4", "upk4-zlib"]
# Whole-archive extraction: the workers named.
WHOLE = ["upk4-j1", "upk4-j2", "upk4-zlib"]
WORKERS = {"upk4-j1": ["-j", "1"], "upk4-j2": ["-j", "2"]}

PY_EXTRACT = ("import sys, zipfile\n"
              "pwd = sys.argv[4].encode() if len(sys.argv) > 4 else None\n"
              "zipfile.ZipFile(sys.argv[1]).extract(sys.argv[2], sys.argv[3], pwd=pwd)\n")
PY_EXTRACT_ALL = ("import sys, zipfile\n"
                  "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])\n")


class Tools:
    def __init__(self, args):
        self.upk4 = args.upk4
        self.upk4_zlib = args.upk4_zlib
        self.lib = args.lib
        self.limit = args.limit
        self.extract_all = args.extract_all

    def extract_one(self, tool, archive, entry, out, password=None):
        """Command that extracts ENTRY of ARCHIVE into directory OUT."""
        pw = [password] if password else []
        if tool == "limit":
            return [self.limit, archive, entry, os.path.join(out, os.path.basename(entry))] + pw
        if tool in UPK4:
            return [self.binary(tool), "extract", archive, entry, out] + (
                ["--password", password] if password else [])
        if tool == "unzip":
            return ["unzip", "-o", "-q"] + (["-P", password] if password else []) + [
                archive, entry, "-d", out]
        if tool == "bsdtar":
            return ["bsdtar", "-xf", archive, "-C", out] + (
                ["--passphrase", password] if password else []) + [entry]
        if tool == "7z":
            return ["7z", "x", "-y", "-bd", "-p" + (password or ""), archive, "-o" + out, entry]
        if tool == "python":
            return [sys.executable, "-c", PY_EXTRACT, archive, entry, out] + pw
        raise ValueError(tool)

    def binary(self, tool):
        return self.upk4_zlib if tool == "upk4-zlib" else self.upk4

    def extract_every(self, tool, archive, names_file, out):
        if tool in WHOLE:
            # The whole archive through the tool: one open archive, the
            # files written by its workers.
            return [self.binary(tool), "extract", archive, out, "-q"] + WORKERS.get(tool, [])
        if tool == "unzip":
            return ["unzip", "-o", "-q", archive, "-d", out]
        if tool == "bsdtar":
            return ["bsdtar", "-xf", archive, "-C", out]
        if tool == "7z":
            return ["7z", "x", "-y", "-bd", "-p", archive, "-o" + out]
        if tool == "python":
            return [sys.executable, "-c", PY_EXTRACT_ALL, archive, out]
        raise ValueError(tool)


def crc_of(path):
    crc, size = 0, 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return crc, size
            crc = zlib.crc32(block, crc)
            size += len(block)


def run_child(argv, work):
    """Runs ARGV under the peak_rss launcher; returns (seconds, (user
    seconds, system seconds), peak RSS in KiB). Raises on failure."""
    err_path = os.path.join(work, "stderr.txt")
    result_path = os.path.join(work, "result.txt")
    with open(err_path, "wb") as err:
        launcher = subprocess.run([PEAK_RSS, result_path] + argv, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=err)
    with open(err_path, "rb") as f:
        text = f.read().decode(errors="replace").strip()
    if launcher.returncode != 0:
        raise RuntimeError(f"peak_rss failed: {text[:500]}")
    with open(result_path) as f:
        seconds, user, system, rss_kib, code = f.read().split()
    if int(code) != 0:
        raise RuntimeError(f"{' '.join(argv)}: exit code {code}: {text[:500]}")
    return float(seconds), (float(user), float(system)), int(rss_kib)


class Series:
    def __init__(self, tool):
        self.tool = tool
        self.times = []
        self.cpu = []
        self.rss_kib = 0
        self.error = None  # why the tool was dropped from the series

    def add(self, seconds, cpu, rss_kib):
        self.times.append(seconds)
        self.cpu.append(cpu)  # (user, system)
        self.rss_kib = max(self.rss_kib, rss_kib)

    @property
    def median(self):
        return statistics.median(self.times)

    @property
    def median_cpu(self):
        return statistics.median(u + s for u, s in self.cpu)

    @property
    def median_user(self):
        return statistics.median(u for u, _ in self.cpu)

    @property
    def median_system(self):
        return statistics.median(s for _, s in self.cpu)


def measure(tools, command_for, check, work, runs, warmup=True, keep_outputs=False):
    """Runs every tool once per round, rotating the order from round to
    round; the first round warms the page cache and checks the outputs.
    keep_outputs: for outputs of many files, which are all removed only
    after the last round. On ext4 a file system that has just deleted many
    files makes every new inode search past the recently deleted ones
    (recently_deleted() was the largest single cost in profiles of both
    upk4 and unzip here): removing each run's output at once would charge
    that cost to whichever tool runs next."""
    series = {t: Series(t) for t in tools}
    rounds = runs + (1 if warmup else 0)
    kept = []
    for r in range(rounds):
        counted = not warmup or r > 0
        order = tools[r % len(tools):] + tools[:r % len(tools)]
        for tool in order:
            if series[tool].error:
                continue
            out = os.path.join(work, f"out-{r}-{tool}" if keep_outputs else "out")
            os.mkdir(out)
            try:
                seconds, cpu, rss = run_child(command_for(tool, out), work)
                if r == 0:
                    problem = check(tool, out)
                    if problem:
                        raise RuntimeError(f"wrong output: {problem}")
            except RuntimeError as e:
                # A tool that fails or gets it wrong drops out; the others go on.
                series[tool].error = str(e)
                continue
            finally:
                if keep_outputs:
                    kept.append(out)
                else:
                    shutil.rmtree(out)
                # Every run starts with nothing left to write back.
                os.sync()
            if counted:
                series[tool].add(seconds, cpu, rss)
    for out in kept:
        shutil.rmtree(out)
    os.sync()
    return series


def working(series, names):
    return [t for t in names if t in series and not series[t].error]


def file_problem(path, info):
    """None when the file at path has the size and CRC-32 of the archive's
    info, else what is wrong with it."""
    if not os.path.isfile(path):
        return f"no file {path}"
    crc, size = crc_of(path)
    if size != info.file_size or crc != info.CRC:
        return f"size {size} crc {crc:08x}, expected {info.file_size} {info.CRC:08x}"
    return None


def entry_check(info, entry_path_for):
    return lambda tool, out: file_problem(entry_path_for(tool, out), info)


def mib(n):
    return n / (1 << 20)


def print_table(out, series, uncompressed, limit_mbs=None, unit="s"):
    scale = 1000.0 if unit == "ms" else 1.0
    # The tool column as wide as its longest name (the methods' rows name
    # the archive too).
    w = max([8] + [len(s.tool) for s in series.values()])
    head = f"  {'tool':<{w}} {'median ' + unit:>10} {'min ' + unit:>9} {'user ' + unit:>9} " \
           f"{'sys ' + unit:>9} {'MB/s':>8} {'x limit':>8} {'peak RSS MiB':>13}"
    out(head)
    for s in series.values():
        if s.error:
            out(f"  {s.tool:<{w}} failed: {s.error}")
            continue
        mbs = uncompressed / 1e6 / s.median
        ratio = f"{mbs / limit_mbs:8.2f}" if limit_mbs else f"{'-':>8}"
        out(f"  {s.tool:<{w}} {s.median * scale:10.3f} {min(s.times) * scale:9.3f} "
            f"{s.median_user * scale:9.3f} {s.median_system * scale:9.3f} {mbs:8.1f} "
            f"{ratio} {s.rss_kib / 1024:13.1f}")


def large_entry(out, tools, name, archive, entry, work, runs, password=None, warmup=True):
    with zipfile.ZipFile(archive) as z:
        info = z.getinfo(entry)
    ratio = info.file_size / max(info.compress_size, 1)
    kind = "stored" if info.compress_type == zipfile.ZIP_STORED else "deflated"
    enc = ", encrypted (traditional PKWARE)" if info.flag_bits & 1 else ""
    out(f"\n== {name}: entry \"{entry}\", {mib(info.file_size):.1f} MiB, {kind}{enc}, "
        f"{mib(info.compress_size):.1f} MiB in the archive ({ratio:.2f}:1); "
        f"{'median of ' + str(runs) + ' runs after a warm-up round' if warmup else 'one run'}")
    names = ["limit"] + UPK4 + PEERS
    series = measure(
        names,
        lambda tool, o: tools.extract_one(tool, archive, entry, o, password),
        entry_check(info, lambda tool, o: os.path.join(o, os.path.basename(entry))),
        work, runs, warmup)
    limit = None if series["limit"].error else info.file_size / 1e6 / series["limit"].median
    print_table(out, series, info.file_size, limit)
    return info, series


def check_files(infos, out):
    """None when every file of infos is under out with its size and CRC-32,
    else what is wrong with the first that is not."""
    for i in infos:
        problem = file_problem(os.path.join(out, i.filename), i)
        if problem:
            return f"{i.filename}: {problem}"
    return None


def small_files(out, tools, archive, names_file, work, runs, lookup=True):
    with zipfile.ZipFile(archive) as z:
        infos = [i for i in z.infolist() if not i.is_dir()]
    total = sum(i.file_size for i in infos)
    packed = sum(i.compress_size for i in infos)

    check_all = lambda tool, o: check_files(infos, o)

    dirs = len(set(os.path.dirname(i.filename) for i in infos))
    where = "one directory" if dirs == 1 else f"{dirs} directories"
    out(f"\n== small files: {len(infos)} files of 1-8 KiB in {where}, {mib(total):.1f} MiB, "
        f"deflated to {mib(packed):.1f} MiB; "
        f"median of {runs} runs after a warm-up round")
    out("  extract all (upk4 extract ARCHIVE DESTDIR -j N: one open archive, N workers)")
    series_all = measure(WHOLE + PEERS,
                         lambda tool, o: tools.extract_every(tool, archive, names_file, o),
                         check_all, work, runs, keep_outputs=True)
    print_table(out, series_all, total)
    files_per_s = {t: len(infos) / series_all[t].median
                   for t in working(series_all, series_all.keys())}
    out("  files/s: " + ", ".join(f"{t} {v:.0f}" for t, v in files_per_s.items()))
    ok = working(series_all, series_all.keys())
    if ok:
        system = sum(series_all[t].median_system for t in ok)
        share = system / max(sum(series_all[t].median_cpu for t in ok), 1e-9)
        out(f"  system time is {share * 100:.0f}% of all processor time here, mostly the file "
            f"system creating files; user time is the tools' own work")

    if not lookup:
        return len(infos), series_all, None
    # One entry looked up by name, from the middle of the directory.
    one = infos[len(infos) // 2]
    out(f"  look up one entry by name (\"{one.filename}\", {one.file_size} bytes)")

    def one_path(tool, o):
        # upk4 extract writes under the entry's file name only.
        return os.path.join(o, os.path.basename(one.filename) if tool in UPK4 else one.filename)

    # A lookup takes milliseconds, so that a few runs' median moves with
    # whatever else the machine does: five times as many runs, at least 25.
    lookup_runs = max(25, 5 * runs)
    out(f"  ({lookup_runs} runs: a lookup takes milliseconds)")
    series_one = measure(UPK4 + PEERS,
                         lambda tool, o: tools.extract_one(tool, archive, one.filename, o),
                         entry_check(one, one_path), work, lookup_runs)
    print_table(out, series_one, one.file_size, unit="ms")
    return len(infos), series_all, series_one


def jar_like(out, tools, archive, work, runs):
    with zipfile.ZipFile(archive) as z:
        infos = [i for i in z.infolist() if not i.is_dir()]
        dirs = len([i for i in z.infolist() if i.is_dir()])
    total = sum(i.file_size for i in infos)

    def check_all(tool, o):
        for i in infos:
            path = os.path.join(o, i.filename)
            try:
                size = os.path.getsize(path)
            except OSError:
                return f"no file {path}"
            if size != i.file_size:
                return f"{i.filename}: size {size}"
        # Contents of a sample; the sizes of all.
        for i in infos[::97]:
            crc, _ = crc_of(os.path.join(o, i.filename))
            if crc != i.CRC:
                return f"{i.filename}: crc {crc:08x}"
        return None

    out(f"\n== jar-like: {len(infos)} deflated files of 100 B - 6 KiB and {dirs} directory entries, "
        f"{mib(total):.1f} MiB; extract all; median of {runs} runs after a warm-up round")
    out("  (every run's output is kept until the last run: see measure())")
    series = measure(WHOLE + ["unzip", "bsdtar"],
                     lambda tool, o: tools.extract_every(tool, archive, None, o),
                     check_all, work, runs, keep_outputs=True)
    print_table(out, series, total)
    out("  files/s: " + ", ".join(f"{t} {len(infos) / series[t].median:.0f}"
                                   for t in working(series, series.keys())))
    return len(infos), series


def parallel_entries(out, tools, archive, work, runs):
    with zipfile.ZipFile(archive) as z:
        infos = [i for i in z.infolist() if not i.is_dir()]
    total = sum(i.file_size for i in infos)
    packed = sum(i.compress_size for i in infos)

    check_all = lambda tool, o: check_files(infos, o)

    out(f"\n== parallel: {len(infos)} deflated entries of {mib(infos[0].file_size):.0f} MiB, "
        f"{mib(total):.0f} MiB, {mib(packed):.1f} MiB in the archive; extract all; "
        f"median of {runs} runs after a warm-up round")
    series = measure(WHOLE + ["unzip", "bsdtar"],
                     lambda tool, o: tools.extract_every(tool, archive, None, o),
                     check_all, work, runs)
    print_table(out, series, total)
    return total, series


def verdict(ok):
    return "PASS" if ok else "FAIL"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scratch", required=True)
    p.add_argument("--upk4", required=True)
    p.add_argument("--upk4-zlib", required=True)
    p.add_argument("--lib", required=True)
    p.add_argument("--limit", required=True)
    p.add_argument("--extract-all", required=True)
    p.add_argument("--peak-rss", required=True)
    p.add_argument("--runs", type=int, default=5)
    p.add_argument("--report", help="also write the results here")
    args = p.parse_args()
    global PEAK_RSS
    PEAK_RSS = args.peak_rss
    tools = Tools(args)
    work = tempfile.mkdtemp(prefix="runs.", dir=args.scratch)
    lines = []

    def out(line=""):
        print(line, flush=True)
        lines.append(line)

    sc = args.scratch
    started = time.time()
    results = {}
    results["deflated"] = large_entry(out, tools, "deflated", os.path.join(sc, "deflated.zip"),
                                      "big.txt", work, args.runs)
    results["stored"] = large_entry(out, tools, "stored", os.path.join(sc, "stored.zip"),
                                    "big.txt", work, args.runs)
    results["encrypted"] = large_entry(out, tools, "encrypted", os.path.join(sc, "encrypted.zip"),
                                       "secret.txt", work, args.runs, password=PASSWORD)
    small = small_files(out, tools, os.path.join(sc, "small.zip"),
                        os.path.join(sc, "small.lst"), work, args.runs)
    # The same files side by side: extraction must not slow down with the
    # number of files already in the directory.
    flat = small_files(out, tools, os.path.join(sc, "small-flat.zip"),
                       os.path.join(sc, "small-flat.lst"), work, args.runs, lookup=False)
    jar = jar_like(out, tools, os.path.join(sc, "jar.zip"), work, args.runs)
    par = parallel_entries(out, tools, os.path.join(sc, "parallel.zip"), work, args.runs)
    huge = os.path.join(sc, "huge.zip")
    if os.path.exists(huge):
        results["huge"] = large_entry(out, tools, "memory flatness", huge, "huge.txt", work, 1,
                                      warmup=False)

    out("\n== targets (wall-time medians; user + system time in brackets)")
    rss_limit = 4 * 1024
    # Throughput factor over the fastest peer that each build must reach.
    needs = {"deflated": {"upk4": 2.0, "upk4-zlib": 1.0},
             "stored": {"upk4": 1.2, "upk4-zlib": 1.2},
             "encrypted": {"upk4": 1.0, "upk4-zlib": 1.0}}
    for name in ("deflated", "stored", "encrypted"):
        info, s = results[name]
        peers = working(s, PEERS)
        if not peers:
            out(f"  {name}: FAIL (every peer failed)")
            continue
        fastest = min(peers, key=lambda t: s[t].median)
        mbs = lambda t: info.file_size / 1e6 / t
        for tool in UPK4:
            up = s[tool]
            if up.error:
                out(f"  {name}: {tool} FAIL ({up.error})")
                continue
            ratio = s[fastest].median / up.median
            ratio_cpu = s[fastest].median_cpu / up.median_cpu
            need = needs[name][tool]
            out(f"  {name}: {tool} {mbs(up.median):.1f} MB/s vs fastest peer {fastest} "
                f"{mbs(s[fastest].median):.1f} MB/s: x{ratio:.2f} (needs x{need:.1f}): "
                f"{verdict(ratio >= need)} [processor time x{ratio_cpu:.2f}]")
    for label, (count, series, _) in (("small files", small), ("small files, one directory", flat)):
        peers = working(series, PEERS)
        if series["upk4-j2"].error or series["upk4-j1"].error or not peers:
            continue
        fastest = min(peers, key=lambda t: series[t].median)
        out(f"  {label} (no target): upk4 -j 2 {count / series['upk4-j2'].median:.0f} files/s, "
            f"-j 1 {count / series['upk4-j1'].median:.0f} files/s vs fastest "
            f"peer {fastest} {count / series[fastest].median:.0f} files/s")
    count, js = jar
    peers = working(js, ["unzip", "bsdtar"])
    if peers:
        fastest = min(peers, key=lambda t: js[t].median)
        # Several workers must beat the peers clearly; one worker, and the
        # zlib build, at least match them.
        for tool, need in (("upk4-j2", 0.70), ("upk4-j1", 1.0), ("upk4-zlib", 1.0)):
            if js[tool].error:
                out(f"  jar-like: {tool} FAIL ({js[tool].error})")
                continue
            ratio = js[tool].median / js[fastest].median
            out(f"  jar-like extract all: {tool} {js[tool].median:.2f} s vs fastest of unzip and "
                f"bsdtar ({fastest}) {js[fastest].median:.2f} s: x{ratio:.2f} of its time "
                f"(needs <= {need:.2f}): {verdict(ratio <= need)} "
                f"[processor time x{js[tool].median_cpu / js[fastest].median_cpu:.2f}]")
    total, ps = par
    if not ps["upk4-j1"].error and not ps["upk4-j2"].error:
        speedup = ps["upk4-j1"].median / ps["upk4-j2"].median
        out(f"  parallel, 16 x 16 MiB: upk4 -j 2 {total / 1e6 / ps['upk4-j2'].median:.1f} MB/s vs "
            f"-j 1 {total / 1e6 / ps['upk4-j1'].median:.1f} MB/s: x{speedup:.2f} (needs x1.8): "
            f"{verdict(speedup >= 1.8)} [processor time "
            f"x{ps['upk4-j2'].median_cpu / ps['upk4-j1'].median_cpu:.2f}]")
    # Several workers' peak memory beside one worker's, in each row of
    # whole archives.
    for label, series in (("small files", small[1]), ("small files, one directory", flat[1]),
                          ("jar-like", js), ("parallel", ps)):
        if series["upk4-j1"].error or series["upk4-j2"].error:
            continue
        ratio = series["upk4-j2"].rss_kib / series["upk4-j1"].rss_kib
        out(f"  peak RSS, {label}: upk4 -j 2 {series['upk4-j2'].rss_kib / 1024:.1f} MiB vs -j 1 "
            f"{series['upk4-j1'].rss_kib / 1024:.1f} MiB: x{ratio:.2f} (needs <= 1.5): "
            f"{verdict(ratio <= 1.5)}")
    one = small[2]
    if one and not one["upk4"].error and not one["unzip"].error:
        ratio = one["upk4"].median / one["unzip"].median
        out(f"  look up one of {small[0]} by name: upk4 {one['upk4'].median * 1000:.1f} ms vs "
            f"unzip {one['unzip'].median * 1000:.1f} ms: x{ratio:.2f} (needs <= 1): "
            f"{verdict(ratio <= 1.0)}")
    info, s = results["deflated"]
    for tool in UPK4:
        big_rss = s[tool].rss_kib if not s[tool].error else 1 << 40
        line = (f"  peak RSS, {tool}: {big_rss / 1024:.1f} MiB at {mib(info.file_size):.0f} MiB")
        ok = big_rss < rss_limit
        if "huge" in results:
            huge_info, hs = results["huge"]
            huge_rss = hs[tool].rss_kib if not hs[tool].error else 1 << 40
            line += f", {huge_rss / 1024:.1f} MiB at {mib(huge_info.file_size):.0f} MiB"
            ok = ok and huge_rss < rss_limit
        else:
            line += " (1 GiB entry not measured: --no-1g)"
        out(line + f" (needs < 4 MiB, flat): {verdict(ok)}")
    out(f"\nmeasured in {time.time() - started:.0f} s")

    shutil.rmtree(work, ignore_errors=True)
    if args.report:
        with open(args.report, "a") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
