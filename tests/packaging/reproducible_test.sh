#!/usr/bin/env bash
# upkpack gives the same bytes for the same inputs when SOURCE_DATE_EPOCH is
# set, whatever the directory, the order the files were made in (their order
# on disk), their times, the umask, the locale, the time zone and the user.
#   reproducible_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
fail() { echo "FAIL: $*"; exit 1; }

# Another user where the test may switch users (root with setpriv). That user
# must reach what it runs: the build tree may lie under a directory it cannot
# enter (a clone in /root, mode 0700), and so may $TMPDIR. Its work goes
# under /tmp then, and it runs a copy of the tools laid out as installed.
other=()
base=${TMPDIR:-/tmp}
if [[ $(id -u) -eq 0 ]] && command -v setpriv >/dev/null; then
  other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  if ! "${other[@]}" test -x "$base/." 2>/dev/null; then
    echo "note: $base cannot be entered by uid 65534; the other user works under /tmp"
    base=/tmp
  fi
fi
work=$(mktemp -d "$base/upk-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
if [[ ${#other[@]} -gt 0 ]]; then
  mkdir -p "$work/tools/bin" "$work/tools/lib/upk"
  cp -L "$build/bin/upkpack" "$build/bin/Setup" "$work/tools/bin/"
  cp -L "$build/lib/libupk4.so" "$work/tools/lib/"
  cp -L "$build/lib/upk/upk2.so" "$build/lib/upk/QXSetup.exe" "$work/tools/lib/upk/"
  chmod -R a+rX "$work/tools"
  "${other[@]}" "$work/tools/bin/upkpack" --help >/dev/null ||
    fail "uid 65534 cannot run the copied upkpack"
  upkpack_other=$work/tools/bin/upkpack
else
  echo "note: not root or no setpriv: the second package is made by the same user"
  upkpack_other=$build/bin/upkpack
fi

# The same tree twice, made in opposite orders, with other times and modes.
make_tree() {  # DIR ORDER(forward|reverse) TIME
  local dir=$1 names=(b.txt a.txt "sub dir/z.bin" "sub dir/y.txt" c/d/e.txt Zeta.txt)
  [[ $2 == reverse ]] && names=(Zeta.txt c/d/e.txt "sub dir/y.txt" "sub dir/z.bin" a.txt b.txt)
  for n in "${names[@]}"; do
    mkdir -p "$dir/$(dirname "$n")"
    case $n in
      *.bin) head -c 70000 /dev/zero | tr '\0' 'x' >"$dir/$n" ;;
      *) echo "content of $n" >"$dir/$n" ;;
    esac
  done
  find "$dir" -exec touch -h -d "$3" {} +
}
(umask 022; make_tree "$work/one/payload" forward "2021-03-04 05:06:07")
(umask 077; make_tree "$work/two/deeper/payload" reverse "2024-11-12 13:14:15")
chmod -R a+rX "$work/two"

pack() {  # OUT_DIR ARGS... ; runs upkpack with the given environment
  local out=$1; shift
  mkdir -p "$out"
  "$build/bin/upkpack" -q -o "$out/Setup" "$@"
}
export SOURCE_DATE_EPOCH=1700000000
cases=(  # name|options and payload
  "inside|payload/."
  "encrypted|--password s3cret payload"
  "split|--archive data%d.zip --split 1M payload/."
)
for c in "${cases[@]}"; do
  name=${c%%|*}; read -ra extra <<<"${c#*|}"
  (cd "$work/one" && umask 022 && LC_ALL=C TZ=UTC \
     pack "$work/out1-$name" "${extra[@]}")
  mkdir -p "$work/out2-$name"
  if [[ ${#other[@]} -gt 0 ]]; then
    chown -R 65534:65534 "$work/two" "$work/out2-$name"
  fi
  (cd "$work/two/deeper" && umask 077 && LC_ALL=C.UTF-8 TZ=Pacific/Kiritimati \
     "${other[@]}" "$upkpack_other" -q -o "$work/out2-$name/Setup" "${extra[@]}")
  for f in "$work/out1-$name"/*; do
    cmp "$f" "$work/out2-$name/$(basename "$f")" || fail "$name: $(basename "$f") differs"
  done
  echo "same bytes: $name ($(ls "$work/out1-$name" | wc -l) files)"
done

# Every entry carries the epoch (2023-11-14 22:13:20 UTC), not its file's time.
TZ=UTC "$build/bin/upk4" list "$work/out1-inside/Setup" >"$work/list.txt"
grep -q "a.txt" "$work/list.txt" || fail "upk4 list shows no a.txt"
if grep -v "2023-11-14 22:13:20" "$work/list.txt" | grep -q "a.txt\|e.txt\|sub dir/$"; then
  cat "$work/list.txt"; fail "an entry does not carry the SOURCE_DATE_EPOCH time"
fi

# Without SOURCE_DATE_EPOCH the files' own times count: the trees differ.
unset SOURCE_DATE_EPOCH
(cd "$work/one" && pack "$work/plain1" payload/.)
(cd "$work/two/deeper" && pack "$work/plain2" payload/.)
! cmp -s "$work/plain1/Setup" "$work/plain2/Setup" || fail "file times are not stored at all"

# A malformed value is refused, not ignored.
if SOURCE_DATE_EPOCH=yesterday "$build/bin/upkpack" -q -o "$work/bad" "$work/one/payload/." \
     2>"$work/err.txt"; then
  fail "SOURCE_DATE_EPOCH=yesterday accepted"
fi
grep -q "SOURCE_DATE_EPOCH" "$work/err.txt" || fail "no word on the bad SOURCE_DATE_EPOCH"
echo "PASS"
