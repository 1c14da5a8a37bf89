#!/usr/bin/env python3
"""End-to-end runs of the Windows Setup.exe under 64-bit Wine.

Packages are built on the Linux side by upkpack from the Windows set (Unix
tools cannot run inside Wine), then started through exit_code_probe.exe,
which sets TMP in the Windows environment (GetTempPathW ignores TMPDIR) and
prints Setup's exit code in full width (a Wine process's status seen from
Linux keeps 8 bits). Every case works in its own directory under --work.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import time

ARGS = None
FAILURES = []


def win(path):
    """The Windows form of a Linux path under Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)


class Case:
    def __init__(self, name):
        self.root = os.path.join(ARGS.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        self.pkg_dir = os.path.join(self.root, "pkg")
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.pkg_dir)
        os.makedirs(self.tmp)
        self.report = os.path.join(self.root, "report.txt")
        self.package = os.path.join(self.pkg_dir, "Setup.exe")

    def build(self, upk2=None, extra=(), payload=None):
        if payload is None:
            payload = os.path.join(self.root, "payload.txt")
            with open(payload, "w") as f:
                f.write("payload\n")
        b = ARGS.build
        cmd = [ARGS.upkpack, "-q", "-o", self.package,
               "--target", "windows-x86_64", "--windows-set", b,
               *(["--upk2", upk2] if upk2 else []), *extra, payload]
        subprocess.run(cmd, check=True)
        return self

    def command(self, args, env=()):
        probe = os.path.join(ARGS.build, "bin", "exit_code_probe.exe")
        return [ARGS.wine_run, probe, "TMP=" + win(self.tmp), "TEMP=" + win(self.tmp),
                *env, "--", win(self.package), *args]

    def run(self, args, env=(), cwd=None):
        if os.path.exists(self.report):
            os.remove(self.report)
        out = subprocess.run(self.command(args, env), capture_output=True, text=True,
                             timeout=120, cwd=cwd)
        return exit_code(out.stdout), out.stdout + out.stderr

    def report_values(self):
        values = {}
        if os.path.exists(self.report):
            with open(self.report, encoding="utf-8", errors="replace") as f:
                for line in f:
                    key, _, value = line.rstrip("\n").partition("=")
                    values.setdefault(key, value)
        return values

    def log(self):
        path = os.path.join(self.tmp, "qxi_setup.log")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            data = f.read()
        return data.decode("utf-16-le") if not data.startswith(b"\xff\xfe") else "BOM:" + data.decode("utf-16")


def exit_code(output):
    m = re.search(r"exit code: (\d+)", output)
    return int(m.group(1)) if m else None


def report_arg(case):
    return "/report=" + win(case.report)


def exit_codes_reach_the_caller_in_full_width():
    case = Case("exit_codes").build()
    for code in (0, 3, 1602, 3010, 70000):
        got, output = case.run([report_arg(case), "/exitcode=%d" % code])
        check(got == code, "exit code %d came back as %s: %s" % (code, got, output))
        values = case.report_values()
        check(values.get("qx.tmp") == "present", "qx.tmp beside the program (%d)" % code)
        check(values.get("directory", "").lower() == (win(case.tmp) + "\\SetupTemp0").lower(),
              "temporary directory under the Windows temporary path: %s" % values.get("directory"))
        check(values.get("commandstring") == "%s /exitcode=%d" % (report_arg(case), code),
              "CommandString of qx.tmp: %s" % values.get("commandstring"))
        check(not os.path.exists(os.path.join(case.tmp, "SetupTemp0")), "temporary directory removed")
        check(case.log() is None, "no log after a clean run: %s" % case.log())


def restart_goes_through_the_test_command_only():
    case = Case("restart").build()
    got, output = case.run(["/exitcode=1641"], ["UPK_RESTART_COMMAND=true"])
    check(got == 1641, "restart requested: 1641, got %s: %s" % (got, output))
    probe = win(os.path.join(ARGS.build, "bin", "exit_code_probe.exe"))
    failing = "UPK_RESTART_COMMAND=%s --exit 1" % probe
    got, output = case.run(["/exitcode=1641"], [failing])
    check(got == 3010, "failed restart: 3010, got %s: %s" % (got, output))


def copystvar_carries_the_settings_in_and_back():
    case = Case("copystvar").build()
    stvar = os.path.join(case.pkg_dir, "stvar.ini")
    with open(stvar, "w") as f:
        f.write("A")
    got, output = case.run(["/COPYstvar", report_arg(case), "/writestvar=B"])
    check(got == 0, "copystvar run: %s %s" % (got, output))
    check(case.report_values().get("stvar.ini") == "present", "stvar.ini copied in")
    check(open(stvar).read() == "B", "stvar.ini copied back")
    got, output = case.run([report_arg(case), "/writestvar=C"])
    check(case.report_values().get("stvar.ini") == "absent", "no copy without the switch")
    check(open(stvar).read() == "B", "nothing copied back without the switch")


def leftover_directories_are_swept():
    case = Case("sweep").build()
    for name in ("SetupTemp0", "SetupTemp3\\sub"):
        d = os.path.join(case.tmp, *name.split("\\"))
        os.makedirs(d)
        with open(os.path.join(d, "upk4.dll"), "w") as f:
            f.write("left over")
    got, output = case.run([report_arg(case)])
    check(got == 0, "sweep run: %s %s" % (got, output))
    check(case.report_values().get("directory", "").endswith("SetupTemp0"), "SetupTemp0 reused")
    check(not os.path.exists(os.path.join(case.tmp, "SetupTemp3")), "SetupTemp3 swept")


def second_stage_failures_reach_the_log():
    fixture = os.path.join(ARGS.build, "bin", "upk2_fixture.dll")
    qxsetup = win(os.path.join(ARGS.build, "lib", "upk", "QXSetup.exe"))
    case = Case("cancelled").build(upk2=fixture)
    got, output = case.run([report_arg(case)],
                           ["UPK2_FIXTURE_RESULT=1602", "UPK2_FIXTURE_QXSETUP=" + qxsetup])
    check(got == 1602, "cancelled: exit 1602, got %s: %s" % (got, output))
    log = case.log()
    check(log is not None and re.search(r"1602 \(-?\d+\), ", log), "1602 in the log: %r" % log)
    check(not os.path.exists(case.report), "the program did not run after 1602")

    case = Case("no_program").build(upk2=fixture)
    got, output = case.run([report_arg(case)])
    check(got == 1603, "no program: exit 1603, got %s: %s" % (got, output))
    log = case.log()
    check(log is not None and "1168 (2), " in log, "1168 (2) in the log: %r" % log)
    check(not os.path.exists(os.path.join(case.tmp, "SetupTemp0")), "directory removed")


def signed_package_still_runs():
    if not shutil.which("osslsigncode") or not shutil.which("openssl"):
        check(False, "osslsigncode and openssl are needed")
        return
    case = Case("signed").build()
    key, cert = os.path.join(case.root, "key.pem"), os.path.join(case.root, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=upk throw-away test signer"],
                   check=True, capture_output=True)
    signed = case.package + ".signed"
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "upk test package",
                    "-in", case.package, "-out", signed], check=True, capture_output=True)
    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, signed],
                            capture_output=True, text=True)
    check(verify.returncode == 0, "signature verifies: " + verify.stdout + verify.stderr)
    check(os.path.getsize(signed) > os.path.getsize(case.package), "signature appended")
    os.replace(signed, case.package)
    got, output = case.run([report_arg(case), "/exitcode=3010"])
    check(got == 3010, "signed package runs: %s %s" % (got, output))
    check(case.report_values().get("qx.tmp") == "present", "signed package reached the program")
    # The signature rewrote the image's checksum and certificate entry, which
    # the package's CRC-32 reads as zeros.
    test = subprocess.run([upk4_tool(), "test", "--package", case.package], capture_output=True,
                          text=True)
    check(test.returncode == 0 and "CRC-32" in test.stdout,
          "signed package's CRC-32 still matches: " + test.stdout + test.stderr)
    # Damage after signing is still found.
    flip(case.package, trailer(case.package)[1] + 4000)
    got, output = case.run([report_arg(case), "/exitcode=3010"])
    check(got == 1603, "damaged signed package refused: %s %s" % (got, output))


def upk4_tool():
    return os.path.join(os.path.dirname(ARGS.upkpack), "upk4")


def trailer(package):
    """configLength, libraryStart, libraryEnd, ... of a package whose marker
    ends the file or is followed by a signature."""
    with open(package, "rb") as f:
        data = f.read()
    at = data.rfind(b">QXINST_SETUP<")
    return struct.unpack("<7i", data[at - 28:at])


def flip(path, at):
    with open(path, "r+b") as f:
        f.seek(at)
        byte = f.read(1)
        f.seek(at)
        f.write(bytes([byte[0] ^ 0x5A]))


def damaged_package_is_refused_before_anything_runs():
    case = Case("damaged").build()
    with open(case.package, "rb") as f:
        intact = f.read()
    _, library_start, library_end = trailer(case.package)[:3]
    for region, at in (("Setup image (DOS stub)", 0x50),
                       ("upk4 library", (library_start + library_end) // 2),
                       ("archive inside", library_end + 200)):
        with open(case.package, "wb") as f:
            f.write(intact)
        flip(case.package, at)
        got, output = case.run([report_arg(case), "/exitcode=5"])
        log = case.log() or ""
        check(got == 1603, "%s damaged: exit 1603, got %s: %s" % (region, got, output))
        check(log.startswith("9 (13), ") or "Setup-ErrorCodes: 9 (13), " in log,
              "%s damaged: code 9 in the log: %r" % (region, log))
        check("damaged or incomplete" in output + log,
              "%s damaged: the message: %s %r" % (region, output, log))
        check(not os.path.exists(case.report), "%s damaged: the program did not run" % region)
        check(not [n for n in os.listdir(case.tmp) if n.lower().startswith(("setuptemp", ".upk-"))],
              "%s damaged: nothing left in the temporary path: %s" % (region, os.listdir(case.tmp)))
    # Cut short: inside the library the marker is gone; a block lost in the
    # middle keeps the trailer and fails the check.
    for what, data in (("cut in the library", intact[:library_start + 5000]),
                       ("block lost", intact[:library_start + 100] + intact[library_start + 65636:])):
        with open(case.package, "wb") as f:
            f.write(data)
        got, output = case.run([report_arg(case), "/exitcode=5"])
        check(got == 1603, "%s: exit 1603, got %s: %s" % (what, got, output))
        check(not os.path.exists(case.report), "%s: the program did not run" % what)
    with open(case.package, "wb") as f:
        f.write(intact)
    got, output = case.run([report_arg(case), "/exitcode=5"])
    check(got == 5, "the intact package runs: %s %s" % (got, output))


def two_runs_at_once_never_share_a_directory():
    case = Case("two_runs").build()
    reports = [os.path.join(case.root, "report%d.txt" % i) for i in (1, 2)]
    runs = [subprocess.Popen(case.command(["/report=" + win(r), "/sleep=1500"]),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            for r in reports]
    outputs = [run.communicate(timeout=120)[0] for run in runs]
    for output in outputs:
        check(exit_code(output) == 0, "run at the same time: %s" % output)
    directories = []
    for report in reports:
        with open(report, encoding="utf-8", errors="replace") as f:
            values = dict(line.rstrip("\n").partition("=")[::2] for line in f)
        directories.append(values.get("directory", "").lower())
    check(directories[0] != directories[1] and all(directories),
          "two runs, two directories: %s" % directories)
    check(not [n for n in os.listdir(case.tmp) if n.lower().startswith(("setuptemp", ".upk-"))],
          "both directories removed: %s" % os.listdir(case.tmp))


def current_directory_with_files_that_must_survive(case):
    cwd = os.path.join(case.root, "Downloads")
    for d in (".git", "bench"):
        os.makedirs(os.path.join(cwd, d))
    with open(os.path.join(cwd, "a.txt"), "w") as f:
        f.write("must survive")
    return cwd


def survived(cwd):
    return sorted(os.listdir(cwd)) == [".git", "a.txt", "bench"]


DEEP = "/".join(["deep"] + ["directory_level_%d" % n for n in range(1, 15)] +
                ["deep_file_name.txt"])


def payload_seen_during_runs(case, names, runs=2, content=lambda name: name):
    """Runs the package `runs` times from a directory of files that must
    survive; while the setup program sleeps, each payload name must stand
    whole in the run's directory, with its content."""
    cwd = current_directory_with_files_that_must_survive(case)
    for attempt in range(1, runs + 1):
        run = subprocess.Popen(case.command([report_arg(case), "/sleep=3000"]), cwd=cwd,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        pending = set(names)
        for _ in range(100):  # while the setup program sleeps
            for name in list(pending):
                path = os.path.join(case.tmp, "SetupTemp0", *name.split("/"))
                if os.path.exists(path) and open(path, encoding="utf-8").read() == content(name):
                    pending.discard(name)
            if not pending or run.poll() is not None:
                break
            time.sleep(0.05)
        output = run.communicate(timeout=120)[0]
        check(exit_code(output) == 0, "run %d: %s" % (attempt, output))
        check(not pending, "run %d: not under their full names: %s" % (attempt, sorted(pending)))
        check(not os.path.exists(os.path.join(case.tmp, "SetupTemp0")),
              "run %d: directory removed: %s" % (attempt, os.listdir(case.tmp)))
        check(survived(cwd), "run %d: the current directory untouched: %s" % (attempt, os.listdir(cwd)))


def package_of(case, names, content=lambda name: name, extra=()):
    payload = os.path.join(case.root, "payload")
    for name in names:
        path = os.path.join(payload, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(content(name))
    return case.build(payload=payload + "/.", extra=extra)


def zstd_and_lzma_packages_unpack_encrypted_and_split():
    """The second stage and upk4.dll of the Windows set read both newer
    methods: encrypted inside the package, and split beside it."""
    names = ["text.txt", "sub/more.txt"]
    def content(name):
        return "".join("%s line %d\n" % (name, i % 50) for i in range(4000))
    for method, extra in (("zstd", ["--password", "s3cret"]),
                          ("lzma", ["--archive", "data%d.zip", "--split", "64k"])):
        case = Case("method_" + method)
        package_of(case, names, content, ["--method", method, *extra])
        payload_seen_during_runs(case, names, runs=1, content=content)


def deep_payload_paths_keep_their_full_names():
    case = Case("deep_payload")
    package_of(case, [DEEP])
    deep = os.path.join(case.tmp, "SetupTemp0", *DEEP.split("/"))
    check(len(win(deep)) > 300, "a path of more than 300 characters: %d" % len(win(deep)))
    payload_seen_during_runs(case, [DEEP])


def greek_cyrillic_and_accented_names_arrive_whole():
    case = Case("unicode_names")
    names = ["\u00dcn\u00efc\u00f6d\u00e9 dir/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac/\u03b1.txt",
             "\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430.txt", "caf\u00e9 cr\u00e8me.txt"]
    package_of(case, names)
    payload_seen_during_runs(case, names, runs=1)


def a_deep_leftover_neither_stops_a_run_nor_touches_the_current_directory():
    case = Case("deep_leftover").build()
    leftover = os.path.join(case.tmp, "SetupTemp0", *DEEP.split("/"))
    os.makedirs(os.path.dirname(leftover))
    with open(leftover, "w") as f:
        f.write("left over")
    os.chmod(leftover, 0o444)
    cwd = current_directory_with_files_that_must_survive(case)
    got, output = case.run([report_arg(case)], cwd=cwd)
    check(got == 0, "run after a deep leftover: %s %s" % (got, output))
    check(case.report_values().get("qx.tmp") == "present", "the program ran")
    check(survived(cwd), "the current directory untouched: %s" % os.listdir(cwd))
    check(not [n for n in os.listdir(case.tmp) if n.lower().startswith(("setuptemp", ".upk-"))],
          "the leftover and the run's directory removed: %s" % os.listdir(case.tmp))


def main():
    global ARGS
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--upkpack", required=True)
    p.add_argument("--build", required=True, help="the x86_64 Windows build tree")
    p.add_argument("--wine-run", required=True)
    p.add_argument("--work", required=True)
    ARGS = p.parse_args()
    os.environ.setdefault("UPK_RESTART_COMMAND", "true")
    os.environ.setdefault("UPK_NO_DIALOGS", "1")
    for case in (exit_codes_reach_the_caller_in_full_width,
                 restart_goes_through_the_test_command_only,
                 copystvar_carries_the_settings_in_and_back,
                 leftover_directories_are_swept,
                 second_stage_failures_reach_the_log,
                 signed_package_still_runs,
                 damaged_package_is_refused_before_anything_runs,
                 two_runs_at_once_never_share_a_directory,
                 deep_payload_paths_keep_their_full_names,
                 greek_cyrillic_and_accented_names_arrive_whole,
                 zstd_and_lzma_packages_unpack_encrypted_and_split,
                 a_deep_leftover_neither_stops_a_run_nor_touches_the_current_directory):
        before = len(FAILURES)
        case()
        print("%s %s" % ("ok    " if len(FAILURES) == before else "FAILED", case.__name__), flush=True)
    if FAILURES:
        print("%d failure(s)" % len(FAILURES))
        return 1
    shutil.rmtree(ARGS.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
