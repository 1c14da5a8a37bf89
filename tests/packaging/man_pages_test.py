#!/usr/bin/env python3
"""The manual pages agree with the tools: every option and exit status in
upkpack's and upk4's --help is in the page and the other way round, every
upk4 command is described, and Setup(1) lists the error codes that Setup's
code adds and the environment variables it reads.

    man_pages_test.py BUILD_DIR SOURCE_DIR
"""
import re
import shutil
import subprocess
import sys
from pathlib import Path

build, source = Path(sys.argv[1]), Path(sys.argv[2])
pages = source / "packaging" / "man"
failures = []


def help_text(*args):
    run = subprocess.run([str(build / "bin" / args[0]), *args[1:]], capture_output=True, text=True)
    if run.returncode != 0:
        failures.append(f"{' '.join(args)} exits with {run.returncode}")
    return run.stdout


def page(name):
    return (pages / f"{name}.1").read_text()


def section(text, title):
    """The roff source of one .SH section."""
    match = re.search(rf"^\.SH {title}\n(.*?)(?=^\.SH |\Z)", text, re.M | re.S)
    return match.group(1) if match else ""


def help_options(text):
    """Options on the help's option lines and in its usage lines."""
    found = set()
    for line in text.splitlines():
        if re.match(r"\s*-", line) or line.lstrip().startswith(("usage:", "[")):
            found |= set(re.findall(r"(?<![\w-])(--?[a-z][a-z0-9-]*)", line))
    return found


def page_options(text):
    """Options named at .TP items of the OPTIONS section."""
    found = set()
    lines = section(text, "OPTIONS").splitlines()
    for i, line in enumerate(lines):
        if i > 0 and lines[i - 1] == ".TP":
            found |= set(re.findall(r"(?<![\w-])(-(?:-)?[a-z][a-z0-9-]*)", line.replace("\\-", "-")))
    return found


def exit_numbers(text):
    """Statuses in an exit paragraph: 'exit codes: 0 ..., 1 ...'."""
    match = re.search(r"exit (?:status|codes?)[: ](.*?)(?:\n\n|\Z)", text, re.I | re.S)
    if not match:
        return set()
    return set(re.findall(r"(?:^|[\s,(])(\d)(?=\s)", " " + match.group(1)))


def page_exit_numbers(text):
    return set(re.findall(r"^\.B (\d+)$", section(text, "EXIT STATUS"), re.M))


def compare(what, in_help, in_page):
    if in_help - in_page:
        failures.append(f"{what}: in --help, not in the page: {sorted(in_help - in_page)}")
    if in_page - in_help:
        failures.append(f"{what}: in the page, not in --help: {sorted(in_page - in_help)}")


# upkpack: one help text.
text = help_text("upkpack", "--help")
compare("upkpack options", help_options(text), page_options(page("upkpack")))
compare("upkpack exit status", exit_numbers(text), page_exit_numbers(page("upkpack")))
if "SOURCE_DATE_EPOCH" in text and "SOURCE_DATE_EPOCH" not in section(page("upkpack"), "ENVIRONMENT"):
    failures.append("upkpack: SOURCE_DATE_EPOCH is not under ENVIRONMENT")

# upk4: the overview and one help per command.
overview = help_text("upk4", "--help")
commands = re.findall(r"^  ([a-z]+) ", overview, re.M)
if not commands:
    failures.append("upk4 --help names no command")
upk4_page = page("upk4")
described = set(re.findall(r"^\.TP\n\.B ([a-z]+)$", section(upk4_page, "COMMANDS"), re.M))
compare("upk4 commands", set(commands), described)
options, statuses = {"-h", "--help"}, set()
for command in commands:
    text = help_text("upk4", command, "--help")
    options |= help_options(text)
    statuses |= exit_numbers(text)
    synopsis = section(upk4_page, "SYNOPSIS")
    if f".B upk4 {command}" not in synopsis:
        failures.append(f"upk4 {command} is not in the synopsis")
compare("upk4 options", options, page_options(upk4_page))
compare("upk4 exit status", statuses | {"0"}, page_exit_numbers(upk4_page))

# Setup: the error codes its code adds, and the environment it reads.
setup_page = page("Setup")
codes = set()
for cpp in (source / "setup").glob("*.cpp"):
    codes |= set(re.findall(r"AddErrorCode\((\d+)\)", cpp.read_text()))
# Named codes: Setup's own, and the system's under their Win32 names.
constants = "".join((source / "setup" / h).read_text() for h in ("error_codes.h", "exit_codes.h"))
system_codes = dict(re.findall(r"(ERROR_\w+) = (\d+),", (source / "platform" / "win_types.h").read_text()))
for name in re.findall(r"AddErrorCode\(setup::(k\w+)\)", "".join(
        p.read_text() for p in (source / "setup").glob("*.cpp"))):
    codes |= set(re.findall(rf"{name} = (\d+);", constants))
    codes |= {system_codes[n] for n in re.findall(rf"{name} = plat::(ERROR_\w+);", constants)}
listed = set(re.findall(r"^\.B (\d+)$", section(setup_page, "FILES"), re.M))
compare("Setup error codes (code / page)", codes, listed)
for variable in ("TMPDIR", "UPK_RESTART_COMMAND"):
    if f".B {variable}" not in section(setup_page, "ENVIRONMENT"):
        failures.append(f"Setup(1) does not describe {variable}")

# Each page renders without warnings where man is installed.
if shutil.which("man"):
    for name in ("upkpack", "upk4", "Setup"):
        run = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", str(pages / f"{name}.1")],
                             capture_output=True, text=True, env={"MANWIDTH": "80", "PATH": "/usr/bin:/bin"})
        if run.returncode != 0 or run.stderr.strip():
            failures.append(f"man {name}: {run.stderr.strip() or run.returncode}")
else:
    print("man is not installed: rendering not checked")

for failure in failures:
    print("FAIL:", failure)
print("PASS" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)
