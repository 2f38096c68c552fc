#!/usr/bin/env bash
# The Windows softplc, run under Wine, writes the same trace as the Linux softplc, byte for byte:
# two minutes of simulated time with both ramps enabled.
# Usage: wine_trace.sh LINUX_SOFTPLC WINDOWS_BIN_DIR WORK_DIR. Exit 77 (skipped) without a Windows build.
set -u
linux_softplc=$1
win_bin=$2
work=$3
. "$(dirname "$0")/wine_setup.sh"
wine_setup "$win_bin" "$work"
args=(run --cycles 12000 --period 10ms --set IntRampEnable=TRUE --set RealRampEnable=TRUE)

"$linux_softplc" "${args[@]}" --trace linux.csv >linux.out 2>&1 || { echo "FAIL: linux softplc"; cat linux.out; exit 1; }
# Relative paths: the Windows program sees the same folder as its current directory.
wine "$win_bin/softplc.exe" "${args[@]}" --trace win.csv >win.out 2>&1 </dev/null ||
  { echo "FAIL: wine softplc.exe"; cat win.out; exit 1; }

lines=$(wc -l <linux.csv)
[ "$lines" -eq 12001 ] || { echo "FAIL: linux trace has $lines lines, want 12001"; exit 1; }
if ! cmp linux.csv win.csv; then
  echo "FAIL: the traces differ; first differing lines:"
  diff linux.csv win.csv | head -n 6
  exit 1
fi
# The end reports agree too (Wine's console may end lines with CR LF).
if ! diff <(tr -d '\r' <win.out | grep -v '^trace written') <(grep -v '^trace written' linux.out) >/dev/null; then
  echo "FAIL: the end reports differ"
  diff <(tr -d '\r' <win.out) linux.out | head -n 10
  exit 1
fi
echo "traces identical: $lines lines"
