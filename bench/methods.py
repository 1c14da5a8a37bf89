#!/usr/bin/env python3
"""Package size and extraction speed per compression method.

Called by bench/run. The mixed payload is made of files that every Debian
machine with the project's dependencies has: Python's standard library
(python3) and 120 binaries, Windows PE files where Wine's are installed
(the Windows dependencies), else ELF shared libraries of the system. It is
packed by upkpack with each method (the archive beside the package, so the
sizes are the archive's), by zip -9, by 7z as a solid LZMA2 archive, and as
tar piped through xz -9 and through zstd -19 --long. Each archive is then
extracted whole by upk4 and by the peers that read it, the output checked
against the payload in the first round; the medians are reported, with the
peak resident set. Last, the peak resident set of upk4 extracting one large
entry of each method: it stays near 4 MiB plus the method's 8 MiB window.
"""
import argparse
import filecmp
import glob
import os
import shutil
import subprocess
import sys
import sysconfig
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure  # noqa: E402  (the timing and the table of bench/measure.py)


def binaries(limit):
    wine = sorted(glob.glob("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll") +
                  glob.glob("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.exe"))
    kind = "Windows PE files of Wine"
    files = wine
    if len(files) < limit:
        kind = "ELF shared libraries of the system"
        files = sorted(p for p in glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")
                       if os.path.isfile(p) and not os.path.islink(p))
    # The largest ones up to 2 MiB, by size and then name, so that the set is
    # stable: the few larger Wine files carry their debug information and
    # would be most of the payload; a shipped program's files are like these.
    files = [p for p in files if os.path.getsize(p) <= 2 << 20]
    files = sorted(files, key=lambda p: (-os.path.getsize(p), p))[:limit]
    return kind, files


def standard_library():
    """Debian's Python standard library where there is one (the python3
    package), else the running Python's."""
    if os.path.exists("/usr/bin/python3"):
        return subprocess.run(["/usr/bin/python3", "-c",
                               "import sysconfig; print(sysconfig.get_paths()['stdlib'])"],
                              check=True, capture_output=True, text=True).stdout.strip()
    return sysconfig.get_paths()["stdlib"]


def make_payload(root, quick):
    stdlib = standard_library()
    count = 0
    for dirpath, dirnames, filenames in os.walk(stdlib):
        dirnames[:] = sorted(d for d in dirnames
                             if d not in ("__pycache__", "site-packages", "dist-packages"))
        for name in sorted(filenames):
            source = os.path.join(dirpath, name)
            if not os.path.isfile(source) or os.path.islink(source):
                continue
            target = os.path.join(root, "python", os.path.relpath(source, stdlib))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(source, target)
            count += 1
            if quick and count >= 300:
                break
        if quick and count >= 300:
            break
    kind, files = binaries(20 if quick else 120)
    os.makedirs(os.path.join(root, "bin"))
    for f in files:
        shutil.copyfile(f, os.path.join(root, "bin", os.path.basename(f)))
    total = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(root) for n in ns)
    files_count = sum(len(ns) for _, _, ns in os.walk(root))
    return f"{files_count} files, {total / 1e6:.1f} MB: Python's standard library " \
           f"({os.path.basename(stdlib)}) and {len(files)} {kind}", total


# What upkpack puts in every package beside the payload: the second stage
# and the setup program.
OWN_ENTRIES = ("A11", "QXSetup.exe")


def run(argv, **kw):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, **kw)


def pack(args, payload, work):
    """Each archive of the payload: {name: path}."""
    archives = {}
    for method in ("deflate", "zstd", "lzma"):
        out = os.path.join(work, "pkg-" + method)
        os.mkdir(out)
        run([args.upkpack, "-q", "-o", os.path.join(out, "Setup"), "--method", method,
             "--archive", "data.zip", payload + "/."])
        archives["upkpack " + method] = os.path.join(out, "data.zip")
    archives["zip -9"] = os.path.join(work, "zip9.zip")
    run(["zip", "-q", "-r", "-9", archives["zip -9"], "."], cwd=payload)
    archives["7z solid LZMA2 -mx=9"] = os.path.join(work, "solid.7z")
    run(["7z", "a", "-bd", "-t7z", "-mx=9", "-ms=on", "-mmt=2", archives["7z solid LZMA2 -mx=9"],
         "."], cwd=payload)
    archives["tar | xz -9"] = os.path.join(work, "payload.tar.xz")
    with open(archives["tar | xz -9"], "wb") as f:
        tar = subprocess.Popen(["tar", "-cf", "-", "."], cwd=payload, stdout=subprocess.PIPE)
        subprocess.run(["xz", "-9", "-T1", "-c"], stdin=tar.stdout, stdout=f, check=True)
        tar.wait()
    archives["tar | zstd -19 --long"] = os.path.join(work, "payload.tar.zst")
    with open(archives["tar | zstd -19 --long"], "wb") as f:
        tar = subprocess.Popen(["tar", "-cf", "-", "."], cwd=payload, stdout=subprocess.PIPE)
        subprocess.run(["zstd", "-q", "-19", "--long=27", "-T1", "-c"], stdin=tar.stdout, stdout=f,
                       check=True)
        tar.wait()
    return archives


def payload_bytes(name, path):
    """The archive's size; for upkpack's, less the records of the entries
    that every package carries besides the payload (local header, data and
    central header of each)."""
    size = os.path.getsize(path)
    if not name.startswith("upkpack "):
        return size
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.filename in OWN_ENTRIES:
                name_bytes = len(info.filename.encode())
                size -= (30 + name_bytes + len(info.extra) + info.compress_size +
                         46 + name_bytes + len(info.extra) + len(info.comment))
    return size


def extractors(args, archives):
    """(row name, archive, command for an output directory)."""
    upk4 = lambda a: (lambda out: [args.upk4, "extract", a, out, "-q"])  # noqa: E731
    rows = []
    for method in ("deflate", "zstd", "lzma"):
        rows.append((f"upk4, upkpack {method}", upk4(archives["upkpack " + method])))
    rows.append(("upk4, zip -9", upk4(archives["zip -9"])))
    rows.append(("unzip, zip -9", lambda out: ["unzip", "-q", "-o", archives["zip -9"], "-d", out]))
    lz = archives["upkpack lzma"]
    rows.append(("bsdtar, upkpack lzma", lambda out: ["bsdtar", "-xf", lz, "-C", out]))
    rows.append(("7z x, upkpack lzma", lambda out: ["7z", "x", "-y", "-bd", "-mmt=1", lz, "-o" + out]))
    rows.append(("python, upkpack lzma",
                 lambda out: [sys.executable, "-c", measure.PY_EXTRACT_ALL, lz, out]))
    solid = archives["7z solid LZMA2 -mx=9"]
    rows.append(("7z x, 7z solid", lambda out: ["7z", "x", "-y", "-bd", solid, "-o" + out]))
    txz = archives["tar | xz -9"]
    rows.append(("tar -xJf, tar | xz -9", lambda out: ["tar", "-xJf", txz, "-C", out]))
    return rows


def same_tree(payload, out):
    for dirpath, _, names in os.walk(payload):
        for n in names:
            a = os.path.join(dirpath, n)
            b = os.path.join(out, os.path.relpath(a, payload))
            if not os.path.isfile(b) or not filecmp.cmp(a, b, shallow=False):
                return f"{b} differs or is missing"
    return None


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--scratch", required=True)
    p.add_argument("--upkpack", required=True)
    p.add_argument("--upk4", required=True)
    p.add_argument("--peak-rss", required=True)
    p.add_argument("--gen-text", required=True)
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--large", type=int, default=256 << 20)
    p.add_argument("--quick", action="store_true")
    p.add_argument("--report")
    args = p.parse_args()
    measure.PEAK_RSS = args.peak_rss
    report = open(args.report, "a") if args.report else None

    def out(line=""):
        print(line, flush=True)
        if report:
            report.write(line + "\n")
            report.flush()

    work = os.path.join(args.scratch, "methods")
    os.makedirs(work)
    payload = os.path.join(work, "payload")
    what, total = make_payload(payload, args.quick)
    out(f"\n== compression methods: a mixed payload of {what}")
    archives = pack(args, payload, work)
    sizes = {name: payload_bytes(name, path) for name, path in archives.items()}
    deflate, zip9 = sizes["upkpack deflate"], sizes["zip -9"]
    out("  upkpack's archives without the installer's own two entries (the second stage and the")
    out("  setup program), so that every row holds the same files:")
    out(f"  {'package payload as':<26} {'bytes':>12} {'x deflate':>10} {'x zip -9':>9}")
    for name, size in sizes.items():
        out(f"  {name:<26} {size:12d} {size / deflate:10.3f} {size / zip9:9.3f}")
    zstd_ratio = sizes["upkpack zstd"] / deflate
    lzma_ratio = sizes["upkpack lzma"] / deflate
    out(f"  targets: zstd <= 0.78 x deflate: {measure.verdict(zstd_ratio <= 0.78)}; "
        f"lzma <= 0.72 x deflate: {measure.verdict(lzma_ratio <= 0.72)}")

    rows = extractors(args, archives)
    names = [r[0] for r in rows]
    commands = dict(rows)
    series = measure.measure(names, lambda tool, o: commands[tool](o),
                             lambda tool, o: same_tree(payload, o), work, args.runs)
    out(f"\n  whole payload extracted, median of {args.runs} runs after a warm-up round:")
    measure.print_table(out, series, total)
    ok = lambda n: n in series and not series[n].error  # noqa: E731
    if ok("upk4, upkpack zstd") and ok("upk4, upkpack deflate"):
        out("  target: zstd extraction at least as fast as ISA-L deflate: " + measure.verdict(
            series["upk4, upkpack zstd"].median <= series["upk4, upkpack deflate"].median))
    if ok("upk4, upkpack lzma") and ok("7z x, 7z solid"):
        out("  target: lzma extraction at least as fast as 7z x of the solid archive: " +
            measure.verdict(series["upk4, upkpack lzma"].median <= series["7z x, 7z solid"].median))

    # Memory: one large entry per method, peak resident set of upk4 extract.
    big = os.path.join(work, "large")
    os.mkdir(big)
    with open(os.path.join(big, "large.txt"), "wb") as f:
        subprocess.run([args.gen_text, str(args.large), "7"], stdout=f, check=True)
    out(f"\n  peak RSS of upk4 extract, one {args.large >> 20} MiB text entry "
        "(zstd level 17 and lzma preset 6: 8 MiB window and dictionary, as level 19 and preset 9):")
    for method, level in (("deflate", None), ("zstd", "17"), ("lzma", "6")):
        pkg = os.path.join(work, "large-" + method)
        os.mkdir(pkg)
        run([args.upkpack, "-q", "-o", os.path.join(pkg, "Setup"), "--method", method,
             *(["--level", level] if level else []), "--archive", "data.zip", big + "/."])
        o = os.path.join(work, "large-out")
        os.mkdir(o)
        # The entry alone, as the exports extract it: a whole-archive run
        # would add the installer's own entries, decoded by another worker.
        seconds, _, rss = measure.run_child([args.upk4, "extract", os.path.join(pkg, "data.zip"),
                                             "large.txt", o], work)
        shutil.rmtree(o)
        bound = 4 if method == "deflate" else 4 + 8
        out(f"  {method:<8} {rss / 1024:6.1f} MiB (bound {bound} MiB: "
            f"{measure.verdict(rss / 1024 <= bound)}), {args.large / 1e6 / seconds:.0f} MB/s")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
