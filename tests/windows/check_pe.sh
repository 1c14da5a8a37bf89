#!/usr/bin/env bash
# Static checks of a Windows set (no Windows needed): the machine type; the
# GUI subsystem, manifest and (i686 release) size of Setup.exe; no
# winpthreads in the binaries that leave it out; exactly the undecorated
# exports of upk4.dll and upk2.dll; and imports of system DLLs only (DLL
# planting: a DLL that Windows does not load from its system directory
# could be found beside Setup.exe in a Downloads folder).
#   check_pe.sh BUILD_DIR i686|x86_64
set -euo pipefail
build=$1
arch=$2
case $arch in
  i686) triple=i686-w64-mingw32; pe="PE32 executable"; machine="Intel 80386"; manifest_arch=x86 ;;
  x86_64) triple=x86_64-w64-mingw32; pe="PE32+ executable"; machine="x86-64"; manifest_arch=amd64 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
objdump=$triple-objdump
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

setup=$build/bin/Setup.exe
upk4=$build/bin/upk4.dll
upk2=$build/lib/upk/upk2.dll
qxsetup=$build/lib/upk/QXSetup.exe

for f in "$setup" "$upk4" "$upk2" "$qxsetup" "$build/bin/upk4.exe"; do
  [[ -f $f ]] || { fail "$f missing"; continue; }
  description=$(file -b "$f")
  [[ $description == "$pe"* && $description == *"$machine"* ]] || fail "$f: $description"
done

grep -q "^Subsystem.*(Windows GUI)" <<<"$($objdump -p "$setup")" || fail "Setup.exe is not a GUI program"
manifest=$(strings -n 8 "$setup" | tr -d '\r' | sed -n '/<assembly/,/<\/assembly>/p')
for needle in 'level="requireAdministrator"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
              "processorArchitecture=\"$manifest_arch\"" '<dpiAware' '<longPathAware' ; do
  grep -qF "$needle" <<<"$manifest" || fail "Setup.exe manifest lacks $needle"
done

exports() { $objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && !/Table/ {print $NF}' | sort | tr '\n' ' '; }
[[ $(exports "$upk4") == "UPK4_Close UPK4_Open UPK4_SetProgress UPK4_Unpack " ]] ||
  fail "upk4.dll exports: $(exports "$upk4")"
[[ $(exports "$upk2") == "UPKExit UPKExpand UPKInit UPKInit3 UPKInitGetErrors " ]] ||
  fail "upk2.dll exports: $(exports "$upk2")"

# Known DLLs: Windows always loads these from its system directory.
allowed=" kernel32.dll user32.dll advapi32.dll shell32.dll shlwapi.dll msvcrt.dll "
for f in "$setup" "$upk4" "$upk2" "$qxsetup"; do
  for dll in $($objdump -p "$f" | awk '/DLL Name:/ {print tolower($3)}'); do
    [[ $allowed == *" $dll "* ]] || fail "$(basename "$f") imports $dll"
  done
  # ASLR and DEP.
  characteristics=$($objdump -p "$f" | awk '/^DllCharacteristics/ {print $2}')
  (( (16#$characteristics & 0x140) == 0x140 )) || fail "$(basename "$f") lacks ASLR/DEP ($characteristics)"
done

# Setup.exe, upk4.dll, upk4.exe and upk2.dll link the runtime of the win32
# thread model (cmake/windows_version.cmake): nothing of theirs may call
# winpthreads, whose locking that runtime does not share. Their symbols are
# beside them once stripped.
for f in "$setup" "$upk4" "$build/bin/upk4.exe" "$upk2"; do
  symbols=$f.debug
  [[ -f $symbols ]] || symbols=$f
  if $triple-nm "$symbols" 2>/dev/null | grep -q 'pthread_'; then
    fail "$(basename "$f") links winpthreads"
  fi
done

# A release set takes nothing from the environment that tests steer it with:
# a Setup.exe run as SYSTEM never runs a restart command someone put there.
if ! grep -q '^UPK_TEST_HOOKS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  for f in "$setup" "$upk4" "$upk2"; do
    for hook in UPK_RESTART_COMMAND UPK_NO_DIALOGS; do
      if strings -a "$f" | grep -q "$hook" || strings -a -el "$f" | grep -q "$hook"; then
        fail "$(basename "$f") of a release set names $hook"
      fi
    done
  done
fi

# Every package carries Setup.exe before a byte of payload: the i686
# release build stays within 200,000 bytes.
if [[ $arch == i686 ]] && ! grep -q '^UPK_TEST_HOOKS:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  size=$(stat -c %s "$setup")
  (( size <= 200000 )) || fail "Setup.exe is $size bytes, over 200,000"
fi

if (( failures )); then
  echo "$failures check(s) failed for the $arch set in $build"
  exit 1
fi
echo "the $arch set in $build: machine, subsystem, manifest, exports and imports as required"
