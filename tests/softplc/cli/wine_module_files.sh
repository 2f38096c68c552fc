#!/usr/bin/env bash
# The Windows softplc, run under Wine, refuses damaged module files and the Linux module with the
# file and the reason, as the module and as the target of an online change, and refuses a change to
# the running module's own bytes.
# Usage: wine_module_files.sh LINUX_MODULE WINDOWS_BIN_DIR WORK_DIR. Exit 77 (skipped) without a
# Windows build; KX_REQUIRE_WINDOWS (set by test.sh) turns a skip into a failure.
set -u
linux_module=$1
win_bin=$2
work=$3
. "$(dirname "$0")/wine_setup.sh"
wine_setup "$win_bin" "$work"

head -c 20000 "$win_bin/CCodePublic.dll" >cut.dll
cp "$win_bin/CCodePublic.dll" unsigned.dll
pe_header=$(od -An -tu4 -j60 -N4 unsigned.dll | tr -d ' ')
printf 'X' | dd of=unsigned.dll bs=1 seek="$pe_header" conv=notrunc status=none
cp "$linux_module" linux.so
cp "$win_bin/CCodePublic.dll" same.dll

failed=0
# expect STATUS TEXT ARGS...: softplc.exe ARGS ends with STATUS and prints TEXT on standard error.
expect() {
  local status=$1 text=$2
  shift 2
  wine "$win_bin/softplc.exe" "$@" >out.txt 2>err.txt </dev/null
  local got=$?
  if [ "$got" -ne "$status" ] || ! tr -d '\r' <err.txt | grep -qF -- "$text"; then
    echo "FAIL: softplc.exe $*: exit $got (want $status), want \"$text\" in:"
    cat err.txt
    failed=1
  fi
}
expect 1 "softplc: cannot load module cut.dll: it is cut short or damaged: section 0 (.text)'s data" info cut.dll
expect 1 "softplc: cannot load module unsigned.dll: it is damaged: there is no PE signature" info unsigned.dll
expect 1 "softplc: cannot load module linux.so: it is a Linux module (ELF shared object); this softplc loads Windows modules (PE DLLs)" info linux.so
expect 3 "refused, CCodePublic keeps running: cannot load module cut.dll: it is cut short or damaged" run --cycles 20 --replace-at 10:cut.dll
expect 3 "refused, CCodePublic keeps running: the new module is the running one itself (same.dll has the same contents" run --cycles 20 --replace-at 10:same.dll
[ "$failed" -eq 0 ] && echo "damaged and foreign module files refused"
exit "$failed"
