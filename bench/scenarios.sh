#!/usr/bin/env bash
# Scenarios per second: the program's own scenarios (tests/scenarios) run by `softplc test`,
# serially in one process and side by side with -j, on the linux-i386 build:
#
#   bench/scenarios.sh [BUILD_DIR] [ROUNDS]      (default build/linux-i386, 20 rounds)
#
# Each row runs the suite ROUNDS times and prints the scenarios run, the wall time and the CPU time
# (user + system, the child processes' included), and the scenarios per second of each. The -j row
# starts a softplc process per scenario. Wall time depends on the machine and its load, CPU time
# less so: figures, never a test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-i386}
rounds=${2:-20}
softplc=$build/bin/softplc
[ -x "$softplc" ] || { echo "scenarios: $softplc is missing; build the linux-i386 preset first" >&2; exit 1; }

row() {
  local label=$1; shift
  local scenarios=0 start end cpu
  local TIMEFORMAT="%U %S"
  start=$(date +%s.%N)
  cpu=$( { time for _ in $(seq "$rounds"); do
             "$softplc" test tests/scenarios "$@" | grep -c '^PASS' >>"$work/count"
           done; } 2>&1 )
  end=$(date +%s.%N)
  scenarios=$(awk '{ s += $1 } END { print s }' "$work/count")
  rm -f "$work/count"
  awk -v l="$label" -v n="$scenarios" -v a="$start" -v b="$end" -v c="$cpu" 'BEGIN {
    split(c, t, " "); w = b - a; u = t[1] + t[2]
    printf "%-30s %6d %8.2f s %8.1f %8.2f s %8.1f\n", l, n, w, n / w, u, n / u }'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf "%-30s %6s %10s %8s %10s %8s\n" "softplc test tests/scenarios" "runs" "wall" "per s" "cpu" "per s"
row "serial, one process"
row "-j 2, a process per scenario" -j 2
