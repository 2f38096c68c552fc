#!/usr/bin/env bash
# The Windows module's debug events land on the same lines of the listing as the Linux module's:
# the Windows softplc under Wine prints the same events (`run --events`, each with its line) as the
# Linux softplc, byte for byte, for 250 cycles in which both ramps run, the lag filter gets a reset
# edge and divides by zero, and the pulse rises and falls. Every event names its line.
# Usage: wine_events.sh LINUX_SOFTPLC WINDOWS_BIN_DIR WORK_DIR. Exit 77 (skipped) without a Windows build.
set -u
linux_softplc=$1
win_bin=$2
work=$3
. "$(dirname "$0")/wine_setup.sh"
wine_setup "$win_bin" "$work"
args=(run --cycles 250 --period 10ms --set IntRampEnable=TRUE --set RealRampEnable=TRUE --set LagResetCmd=TRUE --events)

"$linux_softplc" "${args[@]}" >linux.out 2>&1 || { echo "FAIL: linux softplc"; tail -n 5 linux.out; exit 1; }
wine "$win_bin/softplc.exe" "${args[@]}" 2>&1 </dev/null | tr -d '\r' >win.out
[ "${PIPESTATUS[0]}" = 0 ] || { echo "FAIL: wine softplc.exe"; tail -n 5 win.out; exit 1; }

events=$(grep -cE '^ *(enter|exit) ' linux.out)
unmapped=$(grep -E '^ *(enter|exit) ' linux.out | grep -cvE ' line [0-9]+$')
[ "$events" -gt 60000 ] || { echo "FAIL: only $events events"; exit 1; }
[ "$unmapped" = 0 ] || { echo "FAIL: $unmapped events without a line, e.g.:"; grep -E '^ *(enter|exit) ' linux.out | grep -vE ' line [0-9]+$' | head -n 3; exit 1; }
if ! cmp linux.out win.out; then
  echo "FAIL: the events differ; first differing lines:"
  diff linux.out win.out | head -n 6
  exit 1
fi
echo "events identical: $events events, each on its line"
