#!/usr/bin/env bash
# Setup with TMPDIR on a tmpfs mounted noexec: the copied library cannot be
# mapped, and Setup must say so (message and log, with the directory and the
# TMPDIR hint), keep error code 4 and remove its temporary directory.
# Runs in a private mount namespace, so the mount goes with the test however
# it ends. Skipped (77) where mounting is not allowed.
#   noexec_tmpdir_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/upk-noexec.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/payload" "$work/tmp"
echo "payload" >"$work/payload/a.txt"
"$build/bin/upkpack" -q -o "$work/Setup" "$work/payload/."

if ! unshare --mount --propagation private \
     mount -t tmpfs -o noexec,size=64m tmpfs "$work/tmp" 2>"$work/mount.err"; then
  echo "SKIP: cannot mount a noexec tmpfs here: $(cat "$work/mount.err")"
  exit 77
fi

unshare --mount --propagation private bash -euo pipefail -c '
  work=$1
  mount -t tmpfs -o noexec,size=64m tmpfs "$work/tmp"
  fail() { echo "FAIL: $*"; exit 1; }
  set +e
  (cd "$work" && TMPDIR="$work/tmp" ./Setup "/report=$work/report.txt" /exitcode=7 \
     >"$work/out.txt" 2>"$work/err.txt")
  code=$?
  set -e
  cat "$work/err.txt"
  [[ $code -eq 67 ]] || fail "exit code $code, not 67 (1603 in 8 bits)"
  [[ ! -e $work/report.txt ]] || fail "the setup program ran"
  grep -q "mounted noexec" "$work/err.txt" || fail "no noexec message"
  grep -qF "$work/tmp/SetupTemp0/" "$work/err.txt" || fail "the message does not name the directory"
  grep -q "Set TMPDIR" "$work/err.txt" || fail "no TMPDIR hint"
  ! grep -q "antivirus" "$work/err.txt" || fail "the antivirus guess is still shown"
  log=$(iconv -f UTF-16LE -t UTF-8 "$work/tmp/qxi_setup.log")
  echo "log: $log"
  [[ $log == "Setup-ErrorCodes: 4 (5), upk4.dll cannot be mapped executable in $work/tmp/SetupTemp0/ (file system mounted noexec): set TMPDIR to an executable location, 1168 ("* ]] \
    || fail "log is not code 4 with the note, then 1168"
  leftovers=$(find "$work/tmp" -mindepth 1 -not -name qxi_setup.log)
  [[ -z $leftovers ]] || fail "left behind: $leftovers"

  # The same package runs when TMPDIR allows programs.
  mkdir "$work/exec-tmp"
  set +e
  (cd "$work" && TMPDIR="$work/exec-tmp" ./Setup /exitcode=7 2>/dev/null)
  code=$?
  set -e
  [[ $code -eq 7 ]] || fail "on an executable TMPDIR the exit code is $code, not 7"
  echo "PASS"
' noexec-test "$work"
