#!/usr/bin/env bash
# Instructions per cycle, counted with callgrind (valgrind) on the linux-i386 build:
#
#   bench/count-instructions.sh [BUILD_DIR]      (default build/linux-i386)
#
# Each row runs its command twice under callgrind, for 2000 and for 12000 cycles, and prints
# (Ir(12000) - Ir(2000)) / 10000: start-up, loading and initialisation cancel out. Both ramps are
# enabled and the simulated clock moves 10 ms per cycle. Standard output goes to /dev/null, so the
# --events row counts formatting and writing the lines, not a terminal.
#
# A row is a function that prints its command line for a given number of cycles; add one to
# `rows` below to extend the table. After the table come the figures derived from its rows: the
# host's own work per cycle (a whole run cycle minus the module on our libraries) and the cost of
# one printed event ((--events cycle - hooks-on cycle) / events per cycle).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-i386}
bin=$build/bin

command -v valgrind >/dev/null || { echo "count-instructions: valgrind is missing (scripts/install-deps.sh)" >&2; exit 1; }
for f in cycle_driver_stubs cycle_driver_rtlib CCodePublic.so softplc; do
  [ -e "$bin/$f" ] || { echo "count-instructions: $bin/$f is missing; build the linux-i386 preset first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Total instructions (Ir) of one command under callgrind.
instructions() {
  local out=$work/callgrind.out
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>"$work/valgrind.log" || {
    cat "$work/valgrind.log" >&2
    return 1
  }
  awk '/^summary:/ { print $2 }' "$out"
}

# Prints one row: its label and the instructions per cycle of the command its function gives; keeps
# the figure in per_cycle[function].
declare -A per_cycle
row() {
  local label=$1 command=$2 short long
  short=$(instructions $($command 2000))
  long=$(instructions $($command 12000))
  per_cycle[$command]=$(awk -v a="$short" -v b="$long" 'BEGIN { printf "%.1f", (b - a) / 10000 }')
  printf "%-58s %9.0f\n" "$label" "${per_cycle[$command]}"
}

# ---- rows: each prints the command line for $1 cycles -------------------------------------------
module_stubs() { echo "$bin/cycle_driver_stubs $1"; }
module_rtlib() { echo "$bin/cycle_driver_rtlib $1"; }
module_rtlib_hooks() { echo "$bin/cycle_driver_rtlib $1 hooks"; }
module_rtlib_hooks_user() { echo "$bin/cycle_driver_rtlib $1 hooks-user"; }
ramps="--set IntRampEnable=TRUE --set RealRampEnable=TRUE"
softplc_run() { echo "$bin/softplc run --cycles $1 --period 10ms $ramps"; }
softplc_trace() { echo "$bin/softplc run --cycles $1 --period 10ms $ramps --trace /dev/null"; }
softplc_events() { echo "$bin/softplc run --cycles $1 --period 10ms $ramps --events"; }

rows=(
  "module, do-nothing runtime functions, hooks off:module_stubs"
  "module, our runtime libraries, hooks off:module_rtlib"
  "module, our runtime libraries, hooks on (counting handler):module_rtlib_hooks"
  "  the same, handler with a user pointer:module_rtlib_hooks_user"
  "softplc run (simulated clock):softplc_run"
  "softplc run --trace /dev/null:softplc_trace"
  "softplc run --events (to /dev/null):softplc_events"
)

printf "%-58s %9s\n" "instructions per cycle ($build)" "Ir"
for r in "${rows[@]}"; do row "${r%%:*}" "${r##*:}"; done

# The events of one cycle, as the counting handler sees them.
events=$("$bin/cycle_driver_rtlib" 100 hooks | awk '/events per cycle/ { print $4 }')
echo
awk -v run="${per_cycle[softplc_run]}" -v module="${per_cycle[module_rtlib]}" \
    -v printed="${per_cycle[softplc_events]}" -v hooks="${per_cycle[module_rtlib_hooks]}" -v n="$events" 'BEGIN {
  printf "%-58s %9.0f\n", "host work per run cycle (run - module on our libraries)", run - module
  printf "%-58s %9.0f\n", "one printed event ((events - hooks on) / " n " events)", (printed - hooks) / n
}'
