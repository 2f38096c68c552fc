#!/usr/bin/env bash
# Online change and the runtime's rules on the Windows build, under Wine:
#  - a change at a fixed cycle writes the same trace, byte for byte, as the Linux build's;
#  - a debugger write into a running timer's ET does not move the timer (same session as Linux);
#  - --reload-on-change (polling) takes a rebuilt module over and refuses a damaged one.
# Usage: wine_online_change.sh LINUX_SOFTPLC WINDOWS_BIN_DIR WORK_DIR. Exit 77 (skipped) without a
# Windows build; KX_REQUIRE_WINDOWS (set by test.sh) turns a skip into a failure.
set -u
linux_softplc=$(realpath "$1")
win_bin=$(realpath "$2")
work=$3
linux_bin=$(dirname "$linux_softplc")
. "$(dirname "$0")/wine_setup.sh"
wine_setup "$win_bin" "$work"
failed=0
fail() { echo "FAIL: $*"; failed=1; }
crlf() { tr -d '\r' <"$1"; }

# 1. A change at cycle 6000 of 12000, both ramps running.
cp "$win_bin/CCodePublic_next.dll" "$win_bin/CCodePublic_next.symbols.json" .
cp "$linux_bin/CCodePublic_next.so" .
args=(run --cycles 12000 --set IntRampEnable=TRUE --set RealRampEnable=TRUE)
"$linux_softplc" "${args[@]}" --replace-at 6000:CCodePublic_next.so --trace linux.csv >linux.out 2>&1 ||
  fail "linux softplc with --replace-at: $(cat linux.out)"
wine "$win_bin/softplc.exe" "${args[@]}" --replace-at 6000:CCodePublic_next.dll --trace win.csv >win.out 2>&1 </dev/null ||
  fail "softplc.exe with --replace-at: $(crlf win.out)"
grep -qF "before cycle 6000: online change from CCodePublic (layout 0x4C5080A3) to CCodePublic_next" <(crlf win.out) ||
  fail "softplc.exe did not report the change: $(crlf win.out)"
cmp -s linux.csv win.csv || { fail "the traces across the change differ:"; diff linux.csv win.csv | head -n 6; }

# 2. The off-timer runs from t=0 with PT T#1s; ET written to T#900ms at t=0.1s is recomputed by the
# next call, and Q still comes at t=1s, not at t=0.2s.
cat >et.txt <<'EOF'
cycle 10
set Blinker.OffTimer.ET T#900ms
cycle 20
expect Blinker.OffTimer.ET = T#289ms999us347ns
expect BlinkQ = FALSE
cycle 70
expect BlinkQ = FALSE
cycle 1
expect BlinkQ = TRUE
EOF
"$linux_softplc" debug --script et.txt >et_linux.out 2>&1 || fail "linux debugger ET session: $(cat et_linux.out)"
wine "$win_bin/softplc.exe" debug --script et.txt >et_win.out 2>&1 </dev/null ||
  fail "softplc.exe debugger ET session: $(crlf et_win.out)"
diff <(crlf et_win.out) et_linux.out >/dev/null || { fail "the ET sessions differ:"; diff <(crlf et_win.out) et_linux.out | head; }

# 3. --reload-on-change: replace the file with the online-change variant, then with a damaged copy.
cp "$win_bin/CCodePublic.dll" m.dll
cp "$win_bin/CCodePublic.symbols.json" m.symbols.json
wine "$win_bin/softplc.exe" run m.dll --realtime --duration 12s --reload-on-change --set RealRampEnable=TRUE \
  >reload.out 2>reload.err </dev/null &
pid=$!
# wait_for FILE TEXT: up to 30 s for TEXT to appear in FILE.
wait_for() {
  for _ in $(seq 300); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "\"$2\" never appeared in $1: $(crlf "$1")"
  return 1
}
if wait_for reload.out "reloading m.dll when it changes (polling)"; then
  sleep 0.3
  cp "$win_bin/CCodePublic_next.dll" m.dll
  cp "$win_bin/CCodePublic_next.symbols.json" m.symbols.json
  wait_for reload.out "online change from CCodePublic (layout 0x4C5080A3) to CCodePublic_next" &&
    head -c 20000 "$win_bin/CCodePublic_next.dll" >m.dll
  wait_for reload.err "refused, CCodePublic_next keeps running: cannot load module"
fi
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "softplc.exe --reload-on-change exited $status: $(crlf reload.err)"
grep -qF "reloads: 1 made, 1 refused; running CCodePublic_next" <(crlf reload.out) ||
  fail "no reload count in the report: $(crlf reload.out)"

[ "$failed" -eq 0 ] && echo "online change, timer ET and reload-on-change agree with the Linux build"
exit "$failed"
